// Port numbers from listed port names. Any name is taken without harm; a name made of "COM",
// a number in the 16-bit range and a tail that cannot continue a number (with NUL characters
// anywhere, as a listed name may carry them) gives that number.
#include "fuzz_check.h"
#include "weather.h"

#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

namespace {

// A character that the numeric text rule would skip or read on (a NUL is dropped first).
bool continues_a_number(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == 'E' || c == 'e' || c == 'D' || c == 'd' ||
           c == ' ' || c == '\t' || c == '\n' || c == '\0';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Any text at all.
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::int16_t any = weather::com_number(raw);
    FUZZ_CHECK(raw.size() > 3 || any == 0);

    // A well-formed name built from the same bytes.
    FuzzedDataProvider input(data, size);
    const auto number = input.ConsumeIntegral<std::int16_t>();
    const int nuls_before = input.ConsumeIntegralInRange<int>(0, 3);
    std::string tail = input.ConsumeRandomLengthString(64);
    while (!tail.empty() && continues_a_number(tail.front()))
        tail.erase(0, 1);
    std::string name = "COM" + std::string(std::size_t(nuls_before), '\0') + std::to_string(number);
    if (!input.ConsumeBool())
        name += tail;
    name += '\0';
    if (weather::com_number(name) != number) {
        std::fprintf(stderr, "com_number gave %d for COM%d\n", weather::com_number(name), number);
        FUZZ_CHECK(weather::com_number(name) == number);
    }
    return 0;
}
