// The line that follows the reading of an input: its text, and nothing at
// all off a terminal.
#include "logging/progress.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace {

// Everything written to a temporary file.
std::string contents(std::FILE* f)
{
    std::fflush(f);
    std::string text(static_cast<size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    text.resize(std::fread(&text[0], 1, text.size(), f));
    return text;
}

}  // namespace

TEST(ProgressLine, TextAndWhatATerminalAndAnythingElseSee)
{
    const struct {
        const char* input;
        uint64_t count;
        double done;
        const char* text;
    } cases[] = {
        {"/data/gfs.grb2", 129, 0.9999, "gfs.grb2: 129 messages read, 99%"},
        {"gfs.grb2", 129, 1.5, "gfs.grb2: 129 messages read, 100%"},
        {"gfs.grb2", 1, std::nan(""), "gfs.grb2: 1 messages read, 0%"},
        {"/d/a_very_long_name_of_a_forecast_file_0123456789.grb2", 7, 0.5,
         "...me_of_a_forecast_file_0123456789.grb2: 7 messages read, 50%"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgressLine::text(c.input, "messages", c.count, c.done), c.text) << c.input;

    for (const bool terminal : {false, true}) {
        std::FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        {
            ProgressLine line("/data/in.grib2", "messages", out, terminal);
            line.update(1, 0.1);
            // A message on standard error first wipes the line.
            ProgressLine::clearShown();
            line.update(2, 0.5);
            line.update(3, 1.0);
        }  // finished on leaving
        const std::string text = contents(out);
        std::fclose(out);
        if (!terminal) {
            EXPECT_EQ(text, "");
            continue;
        }
        // The first state, wiped; later states, as often as ten times a
        // second allows; the last state ending the line.
        const std::string first = "\rin.grib2: 1 messages read, 10%";
        const std::string wipe = "\r" + std::string(first.size() - 1, ' ') + "\r";
        const std::string last = "\rin.grib2: 3 messages read, 100%\n";
        ASSERT_EQ(text.substr(0, first.size() + wipe.size()), first + wipe);
        ASSERT_GE(text.size(), first.size() + wipe.size() + last.size());
        EXPECT_EQ(text.substr(text.size() - last.size()), last);
        const std::string between =
            text.substr(first.size() + wipe.size(), text.size() - first.size() - wipe.size() - last.size());
        for (const QString& state : QString::fromStdString(between).split('\r', Qt::SkipEmptyParts))
            EXPECT_TRUE(state == "in.grib2: 2 messages read, 50%" || state == "in.grib2: 3 messages read, 100%")
                << state.toStdString();
    }
}
