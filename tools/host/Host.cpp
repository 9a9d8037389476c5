#include "tools/host/Host.h"

#include <cstring>

namespace tavrin::host {

Host::Host(HostOptions options) : _options(options), _mainThread(std::this_thread::get_id()) {
  _host = {};
  _host.clap_version = {1, 2, 7};
  _host.host_data = this;
  _host.name = "tavrin-render";
  _host.vendor = "Nobrels";
  _host.url = "";
  _host.version = "1.0";
  _host.get_extension = getExtension;
  _host.request_restart = requestRestart;
  _host.request_process = requestProcess;
  _host.request_callback = requestCallback;
  _logTable.log = log;
  _threadCheckTable = {isMainThread, isAudioThread};
  _paramsTable = {paramsRescan, options.paramsWithoutClear ? nullptr : paramsClear, paramsRequestFlush};
  _timerTable = {registerTimer, unregisterTimer};
}

void Host::setMainThread(std::thread::id id) {
  _mainThread = id;
}

void Host::setAudioThread(std::thread::id id) {
  _audioThread = id;
}

void Host::clearAudioThread() {
  setAudioThread(std::thread::id());
}

std::vector<LogEntry> Host::logEntries() const {
  std::lock_guard<std::mutex> guard(_lock);
  return _log;
}

void Host::clearLog() {
  std::lock_guard<std::mutex> guard(_lock);
  _log.clear();
}

int Host::countLogged(const std::string& text) const {
  std::lock_guard<std::mutex> guard(_lock);
  int count = 0;
  for (const LogEntry& entry : _log) count += entry.message.find(text) != std::string::npos;
  return count;
}

const void* Host::getExtension(const clap_host* host, const char* id) {
  Host& h = self(host);
  ++h._extensionQueries;
  if (!id) return nullptr;
  if (h._options.log && std::strcmp(id, "clap.log") == 0) return &h._logTable;
  if (h._options.threadCheck && std::strcmp(id, CLAP_EXT_THREAD_CHECK) == 0) return &h._threadCheckTable;
  if (h._options.params && std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &h._paramsTable;
  if (h._options.timerSupport && std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &h._timerTable;
  return nullptr;
}

void Host::requestCallback(const clap_host* host) {
  Host& h = self(host);
  ++h._callbackRequests;
  h._callbackPending = true;
}

void Host::log(const clap_host* host, clap_log_severity severity, const char* message) {
  Host& h = self(host);
  std::lock_guard<std::mutex> guard(h._lock);
  h._log.push_back({severity, message ? message : ""});
}

bool Host::isMainThread(const clap_host* host) {
  return std::this_thread::get_id() == self(host)._mainThread.load();
}

bool Host::isAudioThread(const clap_host* host) {
  return std::this_thread::get_id() == self(host)._audioThread.load();
}

void Host::paramsRescan(const clap_host* host, clap_param_rescan_flags flags) {
  Host& h = self(host);
  ++h._rescans;
  h._rescanFlags |= flags;
}

void Host::paramsClear(const clap_host* host, clap_id, clap_param_clear_flags) {
  ++self(host)._clears;
}

void Host::paramsRequestFlush(const clap_host* host) {
  Host& h = self(host);
  ++h._flushRequests;
  h._flushPending = true;
}

std::vector<clap_id> Host::timers() const {
  std::lock_guard<std::mutex> guard(_lock);
  return _timers;
}

bool Host::registerTimer(const clap_host* host, uint32_t, clap_id* timerId) {
  if (timerId == nullptr) return false;
  Host& h = self(host);
  std::lock_guard<std::mutex> guard(h._lock);
  *timerId = h._nextTimer++;
  h._timers.push_back(*timerId);
  return true;
}

bool Host::unregisterTimer(const clap_host* host, clap_id timerId) {
  Host& h = self(host);
  std::lock_guard<std::mutex> guard(h._lock);
  return std::erase(h._timers, timerId) > 0;
}

}  // namespace tavrin::host
