// Fuzzes the C runtime's quoting: any text (whole GBK characters, as every text of the console
// companion is), written bare or inside a line's own quotes, comes back from the runtime's
// splitting rules as the one argument it was; a device text that passes its check survives as
// one single-quoted device word.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "control/command_line_args.h"
#include "control/operations.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Texts never hold a zero byte: the program's texts are zero-terminated.
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    if (!fuzz::IsWholeGbk(text)) return 0;

    const std::string bare = cmdline::QuoteArgument(text);
    const std::vector<std::string> one{text};
    FUZZ_REQUIRE(cmdline::SplitArguments(bare) == one, text, bare);
    const std::vector<std::string> three{"a", text, "b"};
    FUZZ_REQUIRE(cmdline::SplitArguments("a " + bare + " b") == three, text, bare);
    const std::string inside = "\"" + cmdline::EscapeInsideQuotes(text) + "\"";
    FUZZ_REQUIRE(cmdline::SplitArguments("x " + inside) == (std::vector<std::string>{"x", text}),
                 text, inside);

    const Slot device{"TEXT", SlotKind::kDeviceText};
    if (!TextProblem(device, text)) {
        const std::string word = DeviceTextWord(text);
        FUZZ_REQUIRE(word.size() >= 2 && word.front() == '\'' && word.back() == '\'', text, word);
        FUZZ_REQUIRE(
            cmdline::SplitArguments(cmdline::QuoteArgument(word)) == std::vector<std::string>{word},
            text, word);
    }
    return 0;
}
