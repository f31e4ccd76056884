// The settings file as the program meets it after a crash, a bad disk or a careless edit: any
// bytes at all. Reading it never changes it; a value stored into it reads back as stored, the
// other value keeps reading as before, and the file changes in one place only: every other
// line is still there, in its order.
#include "fuzz_check.h"
#include "numeric_text.h"
#include "settings_store.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <fuzzer/FuzzedDataProvider.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string& settings_file() {
    static const std::string path = [] {
        // Memory rather than disk where there is some: every store syncs its file to disk.
        std::error_code ec;
        const fs::path base =
            fs::is_directory("/dev/shm", ec) ? "/dev/shm" : fs::temp_directory_path();
        std::string dir = (base / "nimbrel-fuzz-XXXXXX").string();
        if (!mkdtemp(dir.data()))
            std::abort();
        static const std::string remove_at_exit = dir;
        std::atexit([] { fs::remove_all(remove_at_exit); });
        return dir + "/settings.conf";
    }();
    return path;
}

std::string bytes_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// True when `after` is `before` with at most one line replaced by any number of lines (none
// to many): the lines before and after that place are all there, in their order.
bool changed_in_one_place(const std::string& before, const std::string& after) {
    const auto old_lines = lines_of(before);
    const auto new_lines = lines_of(after);
    const std::size_t shorter = std::min(old_lines.size(), new_lines.size());
    std::size_t same_front = 0;
    while (same_front < shorter && old_lines[same_front] == new_lines[same_front])
        ++same_front;
    std::size_t same_back = 0;
    while (same_front + same_back < shorter && old_lines[old_lines.size() - 1 - same_back] ==
                                                   new_lines[new_lines.size() - 1 - same_back])
        ++same_back;
    return old_lines.size() - same_front - same_back <= 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string value = input.ConsumeRandomLengthString(64);
    const std::string file = input.ConsumeRemainingBytesAsString();
    const std::string& path = settings_file();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << file;
    }
    auto store = platform::make_file_settings_store(path);

    // What the window does with the two values at start-up.
    const std::string port_text = store->get("KORVANE_1", "main", "weather_com", "1");
    const std::string jet_text = store->get("KORVANE_1", "main", "show_jet", "0");
    const double port_value = weather::numeric_value(port_text);
    FUZZ_CHECK(port_value == port_value);
    (void)weather::to_port_number(port_value);
    (void)(weather::numeric_value(jet_text) == 1);
    FUZZ_CHECK(bytes_of(path) == file);

    store->save("KORVANE_1", "main", "weather_com", value);
    FUZZ_CHECK(store->get("KORVANE_1", "main", "weather_com", "<missing>") == value);
    FUZZ_CHECK(store->get("KORVANE_1", "main", "show_jet", "0") == jet_text);
    const std::string once = bytes_of(path);
    FUZZ_CHECK(changed_in_one_place(file, once));

    store->save("KORVANE_1", "main", "show_jet", "1");
    FUZZ_CHECK(store->get("KORVANE_1", "main", "show_jet", "0") == "1");
    FUZZ_CHECK(store->get("KORVANE_1", "main", "weather_com", "<missing>") == value);
    FUZZ_CHECK(changed_in_one_place(once, bytes_of(path)));
    return 0;
}
