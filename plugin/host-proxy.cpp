#include "plugin/host-proxy.h"

#include <iostream>

namespace clap::helpers {

template <MisbehaviourHandler h, CheckingLevel l>
template <class T>
void HostProxy<h, l>::query(const T*& slot, const char* id, const char* fallbackId) {
  slot = static_cast<const T*>(hostPointer->get_extension(hostPointer, id));
  if (!slot && fallbackId) slot = static_cast<const T*>(hostPointer->get_extension(hostPointer, fallbackId));
}

template <MisbehaviourHandler h, CheckingLevel l>
void HostProxy<h, l>::init() {
  if (!hostPointer || !hostPointer->get_extension) return;
  query(hostLog, "clap.log");
  query(hostThreadCheck, "clap.thread-check");
  query(hostThreadPool, "clap.thread-pool");
  query(hostAudioPorts, "clap.audio-ports");
  query(hostAudioPortsConfig, "clap.audio-ports-config");
  query(hostNotePorts, "clap.note-ports");
  query(hostTimerSupport, "clap.timer-support");
  query(hostPosixFdSupport, "clap.posix-fd-support");
  query(hostResourceDirectory, "clap.resource-directory/1");
  query(hostLatency, "clap.latency");
  query(hostGui, "clap.gui");
  query(hostParams, "clap.params");
  query(hostTrackInfo, "clap.track-info/1", "clap.track-info.draft/1");
  query(hostState, "clap.state");
  query(hostNoteName, "clap.note-name");
  query(hostRemoteControls, "clap.remote-controls/2", "clap.remote-controls.draft/2");
  query(hostVoiceInfo, "clap.voice-info");
  query(hostContextMenu, "clap.context-menu/1", "clap.context-menu.draft/0");
  query(hostPresetLoad, "clap.preset-load/2", "clap.preset-load.draft/2");
  query(hostUndo, "clap.undo/4");
  query(hostScratchMemory, "clap.scratch-memory/1");
  query(hostMiniCurveDisplay, "clap.mini-curve-display/3");
  query(hostWebview, "clap.webview/3");
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::canUseHostLog() const {
  return hostLog && hostLog->log;
}

template <MisbehaviourHandler h, CheckingLevel l>
void HostProxy<h, l>::log(clap_log_severity severity, const char* message) const {
  if (canUseHostLog()) {
    hostLog->log(hostPointer, severity, message);
    return;
  }
  const bool isError = severity == CLAP_LOG_ERROR || severity == CLAP_LOG_HOST_MISBEHAVING;
  std::ostream& out = isError ? std::cerr : std::clog;
  out << message << std::endl;
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::canUseThreadCheck() const {
  return hostThreadCheck && hostThreadCheck->is_main_thread && hostThreadCheck->is_audio_thread;
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::isMainThread() const {
  return hostThreadCheck->is_main_thread(hostPointer);
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::isAudioThread() const {
  return hostThreadCheck->is_audio_thread(hostPointer);
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::canUseParams() const {
  if (!hostParams) return false;
  if (hostParams->rescan && hostParams->clear && hostParams->request_flush) return true;
  hostMisbehaving("clap_host_params is partially implemented");
  return false;
}

template <MisbehaviourHandler h, CheckingLevel l>
void HostProxy<h, l>::paramsRequestFlush() const {
  hostParams->request_flush(hostPointer);
}

template <MisbehaviourHandler h, CheckingLevel l>
void HostProxy<h, l>::paramsRescan(clap_param_rescan_flags flags) const {
  hostParams->rescan(hostPointer, flags);
}

template <MisbehaviourHandler h, CheckingLevel l>
void HostProxy<h, l>::requestCallback() const {
  if (hostPointer && hostPointer->request_callback) hostPointer->request_callback(hostPointer);
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::canUseTimerSupport() const {
  return hostTimerSupport && hostTimerSupport->register_timer && hostTimerSupport->unregister_timer;
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::timerSupportRegister(uint32_t periodMs, clap_id* id) const {
  return canUseTimerSupport() && hostTimerSupport->register_timer(hostPointer, periodMs, id);
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::timerSupportUnregister(clap_id id) const {
  return canUseTimerSupport() && hostTimerSupport->unregister_timer(hostPointer, id);
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::canUseTrackInfo() const {
  if (!hostTrackInfo) return false;
  if (hostTrackInfo->get) return true;
  hostMisbehaving("clap_host_track_info is partially implemented");
  return false;
}

template class HostProxy<MisbehaviourHandler::Ignore, CheckingLevel::Minimal>;

}  // namespace clap::helpers
