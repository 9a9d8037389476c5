#pragma once
// A CLAP host record for tests and the render host: offers the log, thread-check, params and
// timer-support host extensions (each can be left out) and request_callback, records what the plug-in logs
// and asks for, and knows which thread is the main thread and which one is the audio thread.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clap/ext/params.h"
#include "clap/ext/thread-check.h"
#include "clap/ext/timer-support.h"
#include "clap/host.h"
#include "plugin/clap-extras.h"

namespace tavrin::host {

// Which host extensions the host answers.
struct HostOptions {
  bool log = true;
  bool threadCheck = true;
  bool params = true;
  bool timerSupport = true;
  bool paramsWithoutClear = false;  // offers a params table whose clear entry is missing
};

// One message the plug-in logged through the host.
struct LogEntry {
  clap_log_severity severity = 0;
  std::string message;
};

class Host {
public:
  explicit Host(HostOptions options = {});
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  const clap_host* clapHost() const { return &hostRecord; }

  // The main thread is the one that built the host unless set otherwise; there is no audio thread
  // until one is set.
  void setMainThread(std::thread::id id);
  void setAudioThread(std::thread::id id);
  void clearAudioThread();

  std::vector<LogEntry> logEntries() const;
  void clearLog();
  // Number of logged messages that contain `text`.
  int countLogged(const std::string& text) const;

  // The timers the plug-in registered and not unregistered, oldest first. Nothing fires them by itself:
  // the caller's main loop calls the plug-in's on_timer for each.
  std::vector<clap_id> timers() const;

  int extensionQueryCount() const { return extensionQueries.load(); }
  int rescanCount() const { return rescans.load(); }
  // Every flag of every rescan asked for so far.
  clap_param_rescan_flags rescanFlags() const { return pendingRescanFlags.load(); }
  int clearCount() const { return clears.load(); }
  int flushRequestCount() const { return flushRequests.load(); }
  int callbackRequestCount() const { return callbackRequests.load(); }
  // Takes a pending request (true once per request burst).
  bool takeFlushRequest() { return flushPending.exchange(false); }
  bool takeCallbackRequest() { return callbackPending.exchange(false); }

private:
  static Host& self(const clap_host* host) { return *static_cast<Host*>(host->host_data); }
  static const void* getExtension(const clap_host* host, const char* id);
  static void requestRestart(const clap_host* host) {}
  static void requestProcess(const clap_host* host) {}
  static void requestCallback(const clap_host* host);
  static void log(const clap_host* host, clap_log_severity severity, const char* message);
  static bool isMainThread(const clap_host* host);
  static bool isAudioThread(const clap_host* host);
  static void paramsRescan(const clap_host* host, clap_param_rescan_flags flags);
  static void paramsClear(const clap_host* host, clap_id paramId, clap_param_clear_flags flags);
  static void paramsRequestFlush(const clap_host* host);
  static bool registerTimer(const clap_host* host, uint32_t periodMs, clap_id* timerId);
  static bool unregisterTimer(const clap_host* host, clap_id timerId);

  HostOptions options;
  clap_host hostRecord;
  clap_host_log logTable;
  clap_host_thread_check threadCheckTable;
  clap_host_params paramsTable;
  clap_host_timer_support timerTable;

  mutable std::mutex logAndTimersMutex;  // guards the log and the timers
  std::vector<LogEntry> logged;
  std::vector<clap_id> timerIds;
  clap_id nextTimer = 0;
  // Atomic so the thread checks on the audio thread take no lock.
  std::atomic<std::thread::id> mainThread;
  std::atomic<std::thread::id> audioThread;

  std::atomic<int> extensionQueries{0};
  std::atomic<int> rescans{0}, clears{0}, flushRequests{0}, callbackRequests{0};
  std::atomic<clap_param_rescan_flags> pendingRescanFlags{0};
  std::atomic<bool> flushPending{false}, callbackPending{false};
};

}  // namespace tavrin::host
