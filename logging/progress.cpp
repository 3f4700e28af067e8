#include "logging/progress.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <mutex>

#include <unistd.h>

namespace {

// The line on the terminal, wiped by clearShown. Messages may come from
// other threads than the reading one.
std::mutex s_mutex;
ProgressLine* s_shown = nullptr;

constexpr auto kInterval = std::chrono::milliseconds(100);
// Longer names are shortened at the front, so that the line fits a
// terminal of 80 columns.
constexpr int kNameWidth = 40;

int percentOf(double done)
{
    if (!(done > 0))
        return 0;
    if (done >= 1)
        return 100;
    return std::min(99, static_cast<int>(std::floor(done * 100)));
}

}  // namespace

ProgressLine::ProgressLine(const QString& input, const char* unit) : ProgressLine(input, unit, stderr, isatty(2) == 1)
{
}

ProgressLine::ProgressLine(const QString& input, const char* unit, std::FILE* out, bool terminal)
    : m_input(input), m_unit(unit), m_out(out), m_active(terminal && out)
{
}

ProgressLine::~ProgressLine()
{
    finish();
}

std::string ProgressLine::text(const QString& input, const char* unit, uint64_t count, double done)
{
    QString name = QFileInfo(input).fileName();
    if (name.size() > kNameWidth)
        name = "..." + name.right(kNameWidth - 3);
    return QString("%1: %2 %3 read, %4%")
        .arg(name)
        .arg(count)
        .arg(QString::fromLatin1(unit))
        .arg(percentOf(done))
        .toLocal8Bit()
        .toStdString();
}

void ProgressLine::update(uint64_t count, double done)
{
    if (!m_active)
        return;
    m_count = count;
    m_done = done;
    const auto now = std::chrono::steady_clock::now();
    if (m_drawn && now - m_last < kInterval)
        return;
    m_last = now;
    m_drawn = true;
    draw();
}

void ProgressLine::finish()
{
    if (!m_active)
        return;
    draw();
    std::lock_guard<std::mutex> lock(s_mutex);
    std::fputc('\n', m_out);
    std::fflush(m_out);
    m_width = 0;
    m_active = false;
    if (s_shown == this)
        s_shown = nullptr;
}

void ProgressLine::draw()
{
    const std::string line = text(m_input, m_unit, m_count, m_done);
    std::lock_guard<std::mutex> lock(s_mutex);
    // Trace lines on standard output come first, when both go to the
    // terminal.
    std::fflush(stdout);
    // A shorter line than the one shown overwrites all of it.
    const size_t pad = m_width > line.size() ? m_width - line.size() : 0;
    std::fprintf(m_out, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
    std::fflush(m_out);
    m_width = line.size() + pad;
    s_shown = this;
}

void ProgressLine::wipe()
{
    if (m_width == 0)
        return;
    std::fprintf(m_out, "\r%*s\r", static_cast<int>(m_width), "");
    std::fflush(m_out);
    m_width = 0;
}

void ProgressLine::clearShown()
{
    std::lock_guard<std::mutex> lock(s_mutex);
    if (s_shown)
        s_shown->wipe();
    s_shown = nullptr;
}
