#include "plugin/host-proxy.h"

#include <iostream>

namespace clap::helpers {

template <MisbehaviourHandler h, CheckingLevel l>
template <class T>
void HostProxy<h, l>::query(const T*& slot, const char* id, const char* fallbackId) {
  slot = static_cast<const T*>(_host->get_extension(_host, id));
  if (!slot && fallbackId) slot = static_cast<const T*>(_host->get_extension(_host, fallbackId));
}

template <MisbehaviourHandler h, CheckingLevel l>
void HostProxy<h, l>::init() {
  if (!_host || !_host->get_extension) return;
  query(_hostLog, "clap.log");
  query(_hostThreadCheck, "clap.thread-check");
  query(_hostThreadPool, "clap.thread-pool");
  query(_hostAudioPorts, "clap.audio-ports");
  query(_hostAudioPortsConfig, "clap.audio-ports-config");
  query(_hostNotePorts, "clap.note-ports");
  query(_hostTimerSupport, "clap.timer-support");
  query(_hostPosixFdSupport, "clap.posix-fd-support");
  query(_hostResourceDirectory, "clap.resource-directory/1");
  query(_hostLatency, "clap.latency");
  query(_hostGui, "clap.gui");
  query(_hostParams, "clap.params");
  query(_hostTrackInfo, "clap.track-info/1", "clap.track-info.draft/1");
  query(_hostState, "clap.state");
  query(_hostNoteName, "clap.note-name");
  query(_hostRemoteControls, "clap.remote-controls/2", "clap.remote-controls.draft/2");
  query(_hostVoiceInfo, "clap.voice-info");
  query(_hostContextMenu, "clap.context-menu/1", "clap.context-menu.draft/0");
  query(_hostPresetLoad, "clap.preset-load/2", "clap.preset-load.draft/2");
  query(_hostUndo, "clap.undo/4");
  query(_hostScratchMemory, "clap.scratch-memory/1");
  query(_hostMiniCurveDisplay, "clap.mini-curve-display/3");
  query(_hostWebview, "clap.webview/3");
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::canUseHostLog() const {
  return _hostLog && _hostLog->log;
}

template <MisbehaviourHandler h, CheckingLevel l>
void HostProxy<h, l>::log(clap_log_severity severity, const char* message) const {
  if (canUseHostLog()) {
    _hostLog->log(_host, severity, message);
    return;
  }
  const bool isError = severity == CLAP_LOG_ERROR || severity == CLAP_LOG_HOST_MISBEHAVING;
  std::ostream& out = isError ? std::cerr : std::clog;
  out << message << std::endl;
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::canUseThreadCheck() const {
  return _hostThreadCheck && _hostThreadCheck->is_main_thread && _hostThreadCheck->is_audio_thread;
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::isMainThread() const {
  return _hostThreadCheck->is_main_thread(_host);
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::isAudioThread() const {
  return _hostThreadCheck->is_audio_thread(_host);
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::canUseParams() const {
  if (!_hostParams) return false;
  if (_hostParams->rescan && _hostParams->clear && _hostParams->request_flush) return true;
  hostMisbehaving("clap_host_params is partially implemented");
  return false;
}

template <MisbehaviourHandler h, CheckingLevel l>
void HostProxy<h, l>::paramsRequestFlush() const {
  _hostParams->request_flush(_host);
}

template <MisbehaviourHandler h, CheckingLevel l>
void HostProxy<h, l>::paramsRescan(clap_param_rescan_flags flags) const {
  _hostParams->rescan(_host, flags);
}

template <MisbehaviourHandler h, CheckingLevel l>
void HostProxy<h, l>::requestCallback() const {
  if (_host && _host->request_callback) _host->request_callback(_host);
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::canUseTimerSupport() const {
  return _hostTimerSupport && _hostTimerSupport->register_timer && _hostTimerSupport->unregister_timer;
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::timerSupportRegister(uint32_t periodMs, clap_id* id) const {
  return canUseTimerSupport() && _hostTimerSupport->register_timer(_host, periodMs, id);
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::timerSupportUnregister(clap_id id) const {
  return canUseTimerSupport() && _hostTimerSupport->unregister_timer(_host, id);
}

template <MisbehaviourHandler h, CheckingLevel l>
bool HostProxy<h, l>::canUseTrackInfo() const {
  if (!_hostTrackInfo) return false;
  if (_hostTrackInfo->get) return true;
  hostMisbehaving("clap_host_track_info is partially implemented");
  return false;
}

template class HostProxy<MisbehaviourHandler::Ignore, CheckingLevel::Minimal>;

}  // namespace clap::helpers
