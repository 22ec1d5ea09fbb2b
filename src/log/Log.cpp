#include "log/Log.h"

#include "support/Path.h"
#include "support/Text.h"

#include <log4cplus/fileappender.h>
#include <log4cplus/initializer.h>
#include <log4cplus/layout.h>
#include <log4cplus/loglevel.h>

#include <cstring>
#include <memory>

Log& Log::instance()
{
    static Log* const holder = new Log();
    return *holder;
}

Log::Log() : loggerName(L"Zelvorn")
{
    log4cplus::initialize();
    log = log4cplus::Logger::getInstance(toUtf8(loggerName));
    log.setLogLevel(log4cplus::OFF_LOG_LEVEL);
}

void Log::setUp(bool debug, const std::wstring& path, bool append)
{
    if (!debug || path.empty())
        return;
    log4cplus::SharedAppenderPtr appender(new log4cplus::FileAppender(
        fileSystemPath(path), append ? std::ios_base::app : std::ios_base::trunc, true, true));
    appender->setLayout(
        std::unique_ptr<log4cplus::Layout>(new log4cplus::PatternLayout("%d{%m/%d/%y %H:%M:%S}    - %m [%l]%n")));
    log.removeAllAppenders();
    log.addAppender(appender);
    log.setLogLevel(log4cplus::TRACE_LOG_LEVEL);
    hasFile.store(true, std::memory_order_release);
    Dravik::Threading::CriticalSectionGuard guard(lock);
    log.forcedLog(log4cplus::WARN_LOG_LEVEL, "日志创建成功", sourceName(__FILE__), __LINE__);
}

const char* Log::sourceName(const char* file)
{
    const char* found = nullptr;
    for (const char* p = std::strstr(file, "src/"); p; p = std::strstr(p + 1, "src/"))
        found = p + 4;
    return found ? found : file;
}
