#include "tools/host/Host.h"

#include <cstring>

namespace tavrin::host {

Host::Host(HostOptions hostOptions) : options(hostOptions), mainThread(std::this_thread::get_id()) {
  hostRecord = {};
  hostRecord.clap_version = {1, 2, 7};
  hostRecord.host_data = this;
  hostRecord.name = "tavrin-render";
  hostRecord.vendor = "Nobrels";
  hostRecord.url = "";
  hostRecord.version = "1.0";
  hostRecord.get_extension = getExtension;
  hostRecord.request_restart = requestRestart;
  hostRecord.request_process = requestProcess;
  hostRecord.request_callback = requestCallback;
  logTable.log = log;
  threadCheckTable = {isMainThread, isAudioThread};
  paramsTable = {paramsRescan, options.paramsWithoutClear ? nullptr : paramsClear, paramsRequestFlush};
  timerTable = {registerTimer, unregisterTimer};
}

void Host::setMainThread(std::thread::id id) {
  mainThread = id;
}

void Host::setAudioThread(std::thread::id id) {
  audioThread = id;
}

void Host::clearAudioThread() {
  setAudioThread(std::thread::id());
}

std::vector<LogEntry> Host::logEntries() const {
  std::lock_guard<std::mutex> guard(logAndTimersMutex);
  return logged;
}

void Host::clearLog() {
  std::lock_guard<std::mutex> guard(logAndTimersMutex);
  logged.clear();
}

int Host::countLogged(const std::string& text) const {
  std::lock_guard<std::mutex> guard(logAndTimersMutex);
  int count = 0;
  for (const LogEntry& entry : logged) count += entry.message.find(text) != std::string::npos;
  return count;
}

const void* Host::getExtension(const clap_host* host, const char* id) {
  Host& h = self(host);
  ++h.extensionQueries;
  if (!id) return nullptr;
  if (h.options.log && std::strcmp(id, "clap.log") == 0) return &h.logTable;
  if (h.options.threadCheck && std::strcmp(id, CLAP_EXT_THREAD_CHECK) == 0) return &h.threadCheckTable;
  if (h.options.params && std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &h.paramsTable;
  if (h.options.timerSupport && std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &h.timerTable;
  return nullptr;
}

void Host::requestCallback(const clap_host* host) {
  Host& h = self(host);
  ++h.callbackRequests;
  h.callbackPending = true;
}

void Host::log(const clap_host* host, clap_log_severity severity, const char* message) {
  Host& h = self(host);
  std::lock_guard<std::mutex> guard(h.logAndTimersMutex);
  h.logged.push_back({severity, message ? message : ""});
}

bool Host::isMainThread(const clap_host* host) {
  return std::this_thread::get_id() == self(host).mainThread.load();
}

bool Host::isAudioThread(const clap_host* host) {
  return std::this_thread::get_id() == self(host).audioThread.load();
}

void Host::paramsRescan(const clap_host* host, clap_param_rescan_flags flags) {
  Host& h = self(host);
  ++h.rescans;
  h.pendingRescanFlags |= flags;
}

void Host::paramsClear(const clap_host* host, clap_id, clap_param_clear_flags) {
  ++self(host).clears;
}

void Host::paramsRequestFlush(const clap_host* host) {
  Host& h = self(host);
  ++h.flushRequests;
  h.flushPending = true;
}

std::vector<clap_id> Host::timers() const {
  std::lock_guard<std::mutex> guard(logAndTimersMutex);
  return timerIds;
}

bool Host::registerTimer(const clap_host* host, uint32_t, clap_id* timerId) {
  if (timerId == nullptr) return false;
  Host& h = self(host);
  std::lock_guard<std::mutex> guard(h.logAndTimersMutex);
  *timerId = h.nextTimer++;
  h.timerIds.push_back(*timerId);
  return true;
}

bool Host::unregisterTimer(const clap_host* host, clap_id timerId) {
  Host& h = self(host);
  std::lock_guard<std::mutex> guard(h.logAndTimersMutex);
  return std::erase(h.timerIds, timerId) > 0;
}

}  // namespace tavrin::host
