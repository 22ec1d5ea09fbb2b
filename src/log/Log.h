// Log: the process-wide holder of the one diagnostic logger (log4cplus, UTF-8 text).
//
// Created on first use and kept for the whole process (never destroyed, so that detached
// threads may still log while the process exits). Writes nothing until setUp() attaches a
// file; from then on every statement, its level check included, runs under one lock. Before
// that a statement costs one atomic read: the workers of a queue of small files would
// otherwise queue up on the lock only to learn that nothing is written.
//
// Statements are written with ZLOG, which captures the statement's file and line:
//     ZLOG("添加任务,id:" << id);
// Wide values are passed as toAnsi(text).
#pragma once

#include "support/CriticalSection.h"

#include <log4cplus/appender.h>
#include <log4cplus/logger.h>

#include <atomic>
#include <sstream>
#include <string>

class Log {
public:
    static Log& instance();

    log4cplus::Logger& logger() { return log; }
    Dravik::Threading::CriticalSection& statementLock() { return lock; }
    // False until the first setUp() that attached a file.
    bool opened() const { return hasFile.load(std::memory_order_acquire); }

    // With `debug` set and a non-empty path: opens the file (emptied, or with `append` kept and
    // written on at its end), creating missing directories, switches every level on and writes
    // the WARN record "日志创建成功". A repeated set-up replaces the earlier file appender, so no
    // record is written twice.
    void setUp(bool debug, const std::wstring& path, bool append = false);

    // The part of a source path after its last "src/", as the log shows it.
    static const char* sourceName(const char* file);

private:
    Log();

    std::wstring loggerName;
    log4cplus::Logger log;
    Dravik::Threading::CriticalSection lock;
    std::atomic<bool> hasFile{false};  // set once, after the first file is attached
};

#define ZLOG(message)                                                                                              \
    do {                                                                                                           \
        Log& zlogHolder_ = Log::instance();                                                                        \
        if (!zlogHolder_.opened())                                                                                 \
            break;                                                                                                 \
        Dravik::Threading::CriticalSectionGuard zlogGuard_(zlogHolder_.statementLock());                           \
        if (zlogHolder_.logger().isEnabledFor(log4cplus::DEBUG_LOG_LEVEL)) {                                       \
            std::ostringstream zlogText_;                                                                          \
            zlogText_ << message;                                                                                  \
            zlogHolder_.logger().forcedLog(log4cplus::DEBUG_LOG_LEVEL, zlogText_.str(), Log::sourceName(__FILE__), \
                                           __LINE__);                                                              \
        }                                                                                                          \
    } while (0)
