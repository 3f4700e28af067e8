// The one way a run ends early: a FatalError thrown where the condition is
// found, caught once by the program's driver, which logs it, says it on
// standard error and ends with its status. Whatever the run holds (its
// output lock) is released by its owner on the way out.
#pragma once

#include <QString>

#include <exception>
#include <string>

enum class FatalLogLevel { Error, Info };

struct SourcePlace {
    const char* file;
    const char* function;
    int line;
};

#define KV_HERE (SourcePlace{__FILE_NAME__, __func__, __LINE__})

class FatalError : public std::exception {
public:
    // `status` is taken modulo 256 (-1 gives 255). A non-empty detail (a
    // path, a reason) is said on a line of its own after the message.
    FatalError(int status, const QString& message, SourcePlace where, const QString& detail = QString(),
               FatalLogLevel level = FatalLogLevel::Error);

    int status() const { return m_status; }
    const QString& message() const { return m_message; }
    const QString& detail() const { return m_detail; }
    SourcePlace where() const { return m_where; }
    FatalLogLevel level() const { return m_level; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    int m_status;
    QString m_message;
    QString m_detail;
    SourcePlace m_where;
    FatalLogLevel m_level;
    std::string m_what;
};

// Logs the end at its level, with the place it was found, and says the
// message (and the detail) on standard error. Returns the exit status.
int reportFatal(const FatalError& end);

// A problem the run survives (a damaged or unusable input): logged at error
// level and said on standard error, so that a user without logging sees it.
void reportProblem(const QString& message, SourcePlace where);
