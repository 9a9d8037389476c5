#pragma once
// Wraps the host pointer and the host's extension tables for one plug-in instance.

#include <string>

#include "clap/ext/params.h"
#include "clap/ext/thread-check.h"
#include "clap/ext/timer-support.h"
#include "clap/host.h"
#include "plugin/clap-extras.h"

namespace clap::helpers {

// How a breach of the CLAP rules is handled: Ignore logs it and carries on.
enum class MisbehaviourHandler { Ignore = 0, Terminate = 1 };
// How much the layer checks the host's calls: Minimal is the set of checks this layer implements.
enum class CheckingLevel { None = 0, Minimal = 1, Maximal = 2 };

// The host pointer (not owned) and the host's extension tables, queried once by init(). Tables the
// layer never calls are kept as opaque pointers.
template <MisbehaviourHandler h, CheckingLevel l>
class HostProxy {
  static_assert(h == MisbehaviourHandler::Ignore && l == CheckingLevel::Minimal,
                "only the log-and-tolerate handler with minimal checking is implemented");

public:
  explicit HostProxy(const clap_host* host) : hostPointer(host) {}

  void init();
  const clap_host* host() const { return hostPointer; }

  bool canUseHostLog() const;
  void log(clap_log_severity severity, const char* message) const;
  void hostMisbehaving(const char* message) const { log(CLAP_LOG_HOST_MISBEHAVING, message); }
  void hostMisbehaving(const std::string& message) const { hostMisbehaving(message.c_str()); }
  void pluginMisbehaving(const char* message) const { log(CLAP_LOG_PLUGIN_MISBEHAVING, message); }
  void pluginMisbehaving(const std::string& message) const { pluginMisbehaving(message.c_str()); }

  bool canUseThreadCheck() const;
  bool isMainThread() const;
  bool isAudioThread() const;

  // The params calls below are made only after canUseParams() answered true; rescan on the main thread.
  bool canUseParams() const;
  void paramsRequestFlush() const;
  void paramsRescan(clap_param_rescan_flags flags) const;

  void requestCallback() const;

  // The host's timers: register answers false and leaves id alone when the host has none.
  bool canUseTimerSupport() const;
  bool timerSupportRegister(uint32_t periodMs, clap_id* id) const;
  bool timerSupportUnregister(clap_id id) const;

  bool canUseTrackInfo() const;

private:
  template <class T>
  void query(const T*& slot, const char* id, const char* fallbackId = nullptr);

  const clap_host* const hostPointer;

  const clap_host_log* hostLog = nullptr;
  const clap_host_thread_check* hostThreadCheck = nullptr;
  const void* hostThreadPool = nullptr;
  const void* hostAudioPorts = nullptr;
  const void* hostAudioPortsConfig = nullptr;
  const void* hostNotePorts = nullptr;
  const void* hostResourceDirectory = nullptr;
  const void* hostLatency = nullptr;
  const void* hostGui = nullptr;
  const clap_host_timer_support* hostTimerSupport = nullptr;
  const void* hostPosixFdSupport = nullptr;
  const clap_host_params* hostParams = nullptr;
  const clap_host_track_info* hostTrackInfo = nullptr;
  const void* hostState = nullptr;
  const void* hostNoteName = nullptr;
  const void* hostRemoteControls = nullptr;
  const void* hostVoiceInfo = nullptr;
  const void* hostUnused = nullptr;  // a slot init never fills
  const void* hostContextMenu = nullptr;
  const void* hostPresetLoad = nullptr;
  const void* hostUndo = nullptr;
  const void* hostScratchMemory = nullptr;
  const void* hostMiniCurveDisplay = nullptr;
  const void* hostWebview = nullptr;
};

using TavrinHostProxy = HostProxy<MisbehaviourHandler::Ignore, CheckingLevel::Minimal>;

}  // namespace clap::helpers
