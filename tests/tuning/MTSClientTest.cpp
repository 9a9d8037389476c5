#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "tests/tuning/TuningFixtures.h"
#include "tuning/libMTSClient.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A client of the installed master library, which this machine does not have.
struct ClientNoMaster : ::testing::Test {
  MTSClient* c = MTS_RegisterClient();
  ~ClientNoMaster() override { MTS_DeregisterClient(c); }

  void send(const Bytes& m) { MTS_ParseMIDIDataU(c, m.data(), int(m.size())); }
  double freq(int note) { return MTS_NoteToFrequency(c, char(note), -1); }
};

void expectRelative(double actual, double expected) {
  EXPECT_NEAR(actual, expected, 1e-12 * expected);
}

Bytes octaveMessage(unsigned char subId, const Bytes& data) {
  Bytes m = {0xF0, 0x7F, 0x7F, 0x08, subId, 0x03, 0x7F, 0x7F};
  m.insert(m.end(), data.begin(), data.end());
  m.push_back(0xF7);
  return m;
}

Bytes bulkDump(const char* name16) {
  Bytes m = {0xF0, 0x7E, 0x00, 0x08, 0x01, 0x00};
  for (int i = 0; i < 16; ++i) m.push_back((unsigned char)name16[i]);
  for (int n = 0; n < 128; ++n) {
    const Bytes t = n == 69 ? Bytes{0x45, 0x40, 0x00} : Bytes{(unsigned char)n, 0x00, 0x00};
    m.insert(m.end(), t.begin(), t.end());
  }
  m.push_back(0x00);  // checksum, not checked
  m.push_back(0xF7);
  return m;
}

}  // namespace

TEST_F(ClientNoMaster, StartsAtTwelveToneEqualTemperamentAsDoesANullClient) {
  EXPECT_STREQ(MTS_GetScaleName(c), "12-TET");
  EXPECT_STREQ(MTS_GetScaleName(nullptr), "");
  EXPECT_EQ(MTS_GetMapStartKey(c), -1);
  EXPECT_EQ(MTS_GetRefKey(c), -1);
  EXPECT_FALSE(MTS_Client_ShouldUpdateLibrary(c));
  for (MTSClient* client : {c, static_cast<MTSClient*>(nullptr)}) {
    SCOPED_TRACE(client ? "client" : "null client");
    EXPECT_FALSE(MTS_HasMaster(client));
    expectRelative(MTS_NoteToFrequency(client, 69, -1), 440.0);
    expectRelative(MTS_NoteToFrequency(client, 60, -1), 261.6255653005986);
    EXPECT_EQ(MTS_RetuningAsRatio(client, 60, 0), 1.0);
    EXPECT_EQ(MTS_RetuningInSemitones(client, 60, 0), 0.0);
    EXPECT_EQ(MTS_GetPeriodRatio(client), 2.0);
    EXPECT_EQ(MTS_GetPeriodSemitones(client), 12.0);
    EXPECT_EQ(MTS_GetMapSize(client), -1);
    EXPECT_FALSE(MTS_ShouldFilterNote(client, 60, 0));
    EXPECT_FALSE(MTS_HasReceivedMTSSysEx(client));
    EXPECT_EQ(MTS_FrequencyToNote(client, NAN, -1), 60);
  }
  // A null client ignores data, folds keys above 127 and names channel 0.
  MTS_ParseMIDIDataU(nullptr, kNote69Up.data(), int(kNote69Up.size()));
  MTS_DeregisterClient(nullptr);
  expectRelative(MTS_NoteToFrequency(nullptr, char(200), -1), 440.0 * std::pow(2.0, (72 - 69) / 12.0));
  EXPECT_EQ(MTS_FrequencyToNote(nullptr, 13000.0, -1), 127);
  char ch = 5;
  EXPECT_EQ(MTS_FrequencyToNoteAndChannel(nullptr, 262.0, &ch), 60);
  EXPECT_EQ(ch, 0);
}

TEST_F(ClientNoMaster, SingleNoteChanges) {
  send(kNote69Up);
  expectRelative(freq(69), 452.89378251621605);
  EXPECT_TRUE(MTS_HasReceivedMTSSysEx(c));
  EXPECT_NEAR(MTS_RetuningInSemitones(c, 69, -1), 0.5 + 0.5 / 16383.0, 1e-12);

  send({0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x45, 0x46, 0x00, 0x00, 0xF7});
  expectRelative(freq(69), 466.1637615180899);
  send({0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x45, 0x7F, 0x7F, 0x7F, 0xF7});  // "no change"
  expectRelative(freq(69), 466.1637615180899);

  // Two changes in one message, the second to key 127 (the top of the range).
  send({0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x02, 0x40, 0x41, 0x00, 0x00, 0x7F, 0x7F, 0x00, 0x00, 0xF7});
  expectRelative(freq(64), 440.0 * std::pow(2.0, (65 - 69) / 12.0));
  expectRelative(freq(127), 440.0 * std::pow(2.0, (127 - 69) / 12.0));
}

TEST_F(ClientNoMaster, ScaleOctaveForms) {
  Bytes oneByte = {0x32};
  oneByte.insert(oneByte.end(), 11, 0x40);
  send(octaveMessage(0x08, oneByte));
  expectRelative(freq(60), 259.5184048545216);
  expectRelative(freq(0), 440.0 * std::pow(2.0, (-0.14 - 69) / 12.0));
  expectRelative(freq(69), 440.0);
  EXPECT_EQ(MTS_GetMapSize(c), 12);
  EXPECT_EQ(MTS_GetMapStartKey(c), 60);

  Bytes twoByte = {0x00, 0x00};
  for (int i = 0; i < 11; ++i) twoByte.insert(twoByte.end(), {0x40, 0x00});
  send(octaveMessage(0x09, twoByte));
  expectRelative(freq(60), 246.94165062806206);
  expectRelative(freq(61), 440.0 * std::pow(2.0, (61 - 69) / 12.0));  // 0x2000 is no offset

  twoByte[0] = twoByte[1] = 0x7F;  // 0x3FFF is +1 semitone
  send(octaveMessage(0x09, twoByte));
  expectRelative(freq(48), 440.0 * std::pow(2.0, (49 - 69) / 12.0));
}

TEST_F(ClientNoMaster, BulkDumpNamesTheScale) {
  send(octaveMessage(0x08, Bytes(12, 0x40)));
  ASSERT_EQ(MTS_GetMapSize(c), 12);
  send(bulkDump("Bulk scale name!"));
  expectRelative(freq(69), 452.89378251621605);
  expectRelative(freq(70), 440.0 * std::pow(2.0, (70 - 69) / 12.0));
  EXPECT_STREQ(MTS_GetScaleName(c), "Bulk scale name!");
  EXPECT_EQ(MTS_GetMapSize(c), -1);
  EXPECT_EQ(MTS_GetMapStartKey(c), -1);

  // A dump request carries no name and retunes nothing: name and map values stay.
  send({0xF0, 0x7E, 0x00, 0x08, 0x00, 0x05, 0xF7});
  EXPECT_STREQ(MTS_GetScaleName(c), "Bulk scale name!");
  expectRelative(freq(69), 452.89378251621605);
}

TEST_F(ClientNoMaster, MalformedMessagesRestartCleanly) {
  // A message cut short by F0 is dropped; the new one is read from its own start.
  Bytes m = {0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x45, 0x10};
  m.insert(m.end(), kNote69Up.begin(), kNote69Up.end());
  send(m);
  expectRelative(freq(69), 452.89378251621605);
  expectRelative(freq(16), 440.0 * std::pow(2.0, (16 - 69) / 12.0));

  // Each F7 resets the count and value: a cut-off change does not leak into the next message.
  send({0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x02, 0x3C, 0x3C, 0xF7, 0xF0,
        0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x3E, 0x3F, 0x00, 0x00, 0xF7});
  expectRelative(freq(62), 440.0 * std::pow(2.0, (63 - 69) / 12.0));
  expectRelative(freq(60), 440.0 * std::pow(2.0, (60 - 69) / 12.0));

  // Other manufacturers, other sub-IDs, status bytes inside data and stray bytes change nothing.
  send({0xF0, 0x43, 0x10, 0x4C, 0xF7, 0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7,
        0x90, 0x3C, 0x7F, 0xF0, 0x7F, 0x7F, 0x08, 0x0A, 0x00, 0xF7});
  expectRelative(freq(69), 452.89378251621605);
}

TEST_F(ClientNoMaster, NullDataAndSearches) {
  MTS_ParseMIDIDataU(c, nullptr, 12);
  MTS_ParseMIDIData(c, reinterpret_cast<const char*>(kNote69Up.data()), -4);
  EXPECT_FALSE(MTS_HasReceivedMTSSysEx(c));
  EXPECT_EQ(MTS_FrequencyToNoteAndChannel(c, 440.0, nullptr), 69);

  send(kNote69Up);
  EXPECT_EQ(MTS_FrequencyToNote(c, 452.89378251621605, -1), 69);  // exact
  EXPECT_EQ(MTS_FrequencyToNote(c, 450.0, -1), 69);               // nearest in the retuned table
  // Between keys 68 (415.3 Hz) and 69 (452.9 Hz) the geometric mean decides.
  const double mean = std::sqrt(MTS_NoteToFrequency(c, 68, -1) * 452.89378251621605);
  EXPECT_EQ(MTS_FrequencyToNote(c, mean, -1), 69);
  EXPECT_EQ(MTS_FrequencyToNote(c, mean * 0.999, -1), 68);
  EXPECT_EQ(MTS_FrequencyToNote(c, 1.0, -1), 0);
  EXPECT_EQ(MTS_FrequencyToNote(c, 1e6, -1), 127);
  char ch = 9;
  EXPECT_EQ(MTS_FrequencyToNoteAndChannel(c, 452.89378251621605, &ch), 69);
  EXPECT_EQ(ch, 0);
}
