#include "options.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace station_sim {

namespace {

constexpr long long count_limit = 1'000'000'000;
constexpr int delay_limit_ms = 600'000;

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string shortest(double v) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    return std::string(text, ec == std::errc{} ? end : text);
}

// The whole of `text` as a decimal integer within [lo, hi]. The program's own rule for
// numbers in text takes the leading number and ignores the rest, which would turn a typo
// such as "3x" into a valid option; here every character must belong to the number.
long long integer_value(std::string_view option, std::string_view text, long long lo,
                        long long hi) {
    long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty())
        throw UsageError(std::string(option) + " wants a whole number, not " + quoted(text));
    if (v < lo || v > hi)
        throw UsageError(std::string(option) + " must be from " + std::to_string(lo) + " to " +
                         std::to_string(hi) + ", not " + quoted(text));
    return v;
}

// The whole of `text` as a decimal number with "." as the decimal point, within [lo, hi].
double real_value(std::string_view option, std::string_view text, double lo, double hi) {
    double v = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty() || !std::isfinite(v))
        throw UsageError(std::string(option) + " wants a number such as 12.5, not " + quoted(text));
    if (v < lo || v > hi)
        throw UsageError(std::string(option) + " must be from " + shortest(lo) + " to " +
                         shortest(hi) + ", not " + quoted(text));
    return v;
}

} // namespace

Options parse_options(int argc, const char* const* argv) {
    Options o;
    std::string made_up; // the first option that describes the air itself
    bool speed_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view name = arg;
        std::optional<std::string_view> attached; // "--port=3"
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != arg.npos) {
            name = arg.substr(0, eq);
            attached = arg.substr(eq + 1);
        }
        const std::string option(name);
        const auto value = [&]() -> std::string_view {
            if (attached)
                return *attached;
            if (i + 1 >= argc)
                throw UsageError(option + " needs a value");
            return argv[++i];
        };
        const auto no_value = [&] {
            if (attached)
                throw UsageError(option + " takes no value");
        };
        const auto flag = [&](bool& target) {
            no_value();
            target = true;
        };

        if (made_up.empty() && (name == "--humidity" || name == "--pressure" ||
                                name == "--temperature" || name == "--drift"))
            made_up = option;

        if (name == "--help" || name == "-h") {
            flag(o.help);
        } else if (name == "--port") {
            o.port = static_cast<int>(integer_value(name, value(), 1, 999));
        } else if (name == "--format") {
            const std::string_view f = value();
            if (f == "hash")
                o.format = Format::hash;
            else if (f == "star")
                o.format = Format::star;
            else
                throw UsageError("--format is hash or star, not " + quoted(f));
        } else if (name == "--humidity") {
            o.reading.humidity = real_value(name, value(), 0, 100);
        } else if (name == "--pressure") {
            o.reading.pressure = real_value(name, value(), 0, 2000);
        } else if (name == "--temperature") {
            o.reading.temperature = real_value(name, value(), -100, 100);
        } else if (name == "--drift") {
            flag(o.drift);
        } else if (name == "--replay") {
            o.replay = value();
            if (o.replay.empty())
                throw UsageError("--replay needs a file");
        } else if (name == "--speed") {
            o.speed = real_value(name, value(), 0.01, 10000);
            speed_given = true;
        } else if (name == "--delay") {
            o.delay_ms = static_cast<int>(integer_value(name, value(), 0, delay_limit_ms));
        } else if (name == "--crlf") {
            flag(o.crlf);
        } else if (name == "--silent") {
            no_value();
            o.answer_limit = 0;
        } else if (name == "--answer") {
            o.answer_limit = integer_value(name, value(), 0, count_limit);
        } else if (name == "--hangup-after") {
            o.hangup_after = integer_value(name, value(), 1, count_limit);
        } else if (name == "--quiet") {
            flag(o.quiet);
        } else if (arg.starts_with("-")) {
            throw UsageError("unknown option " + quoted(arg));
        } else {
            throw UsageError("unexpected argument " + quoted(arg));
        }
    }
    if (o.hangup_after && o.answer_limit && *o.answer_limit < *o.hangup_after)
        throw UsageError("--hangup-after " + std::to_string(*o.hangup_after) +
                         " would never happen: the station answers only " +
                         std::to_string(*o.answer_limit) +
                         (*o.answer_limit == 1 ? " poll" : " polls"));
    if (!o.replay.empty() && !made_up.empty())
        throw UsageError(made_up + " cannot go with --replay: the log gives the readings");
    if (o.replay.empty() && speed_given)
        throw UsageError("--speed goes with --replay only");
    return o;
}

std::string usage() {
    return R"(Usage: station-sim [options]

Plays a weather sensor station on a pseudo-terminal and links it as COM<n> in the port
map ($XDG_CONFIG_HOME/KORVANE_1/ports, by default ~/.config/KORVANE_1/ports). Every poll
byte "D" gets one sentence back. Ctrl-C ends it and removes the link.

Options:
  --port N            COM number, 1 to 999 (default 1)
  --format hash|star  hash: $#<humidity %>,1,<temperature C>,2,<pressure Pa> (default)
                      star: $1,<temperature F>,<humidity %>,2,<pressure inHg>*
  --humidity H        relative humidity in percent, 0 to 100 (default 50)
  --pressure P        pressure in millibar, 0 to 2000 (default 1013.25)
  --temperature T     temperature in degrees Celsius, -100 to 100 (default 20)
  --drift             let the readings wander slowly around those values
  --delay MS          answer MS milliseconds after the poll, 0 to 600000 (default 0)
  --crlf              end sentences with CR LF instead of CR
  --silent            hold the port but never answer
  --answer N          answer the first N polls only, then fall silent
  --hangup-after N    after N answered polls close the pty, remove the link and exit
  --replay FILE       answer with the readings of a log of the program's (a CSV file) at
                      the pace they were logged, from the first poll on: each reading until
                      the next one's time, and silence where the station was lost or no
                      reading was logged for over 10 s; after the last reading, that one
                      for good
  --speed N           play the log N times as fast, 0.01 to 10000 (default 1)
  --quiet             no line per poll
  --help              this text

Exit status: 0 when ended by Ctrl-C, SIGTERM or --hangup-after; 1 when the port is taken
or no pseudo-terminal can be made; 2 for a bad command line, or a log to replay that cannot
be read or holds no reading.

Examples:
  station-sim --port 3 --drift
  station-sim --format star --temperature 31 --pressure 995 --delay 40 --crlf
  station-sim --replay /usr/share/doc/nimbrel/examples/warming_day.csv --speed 60
      (a morning that warms from 20 to 30 C; in the source tree tools/station_sim/)
)";
}

} // namespace station_sim
