// libFuzzer entry point for the judgement of the installer server's answers: whatever the headers
// and the status, nothing crashes, and an answer is only ever taken to continue the file when it
// is the range asked for, of the version held.
//
// The input is text. Line 1: "OFFSET ranged|plain TOTAL STATUS LENGTH" (TOTAL and LENGTH may be
// "-" for unknown); line 2: the validator held (empty for none); every further line is one header
// line of the answer, as the library hands them over ("HTTP/..." starts a new answer).
#include "download/transfer_answer.h"
#include "script_text.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tarvik::download::Verdict;

using tarvik::fuzzing::NextLine;
using tarvik::fuzzing::Words;

template <typename Number> std::optional<Number> Read(std::string_view word) {
    Number value{};
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size())
        return std::nullopt;
    return value;
}

void Require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string_view> words = Words(NextLine(text));
    const auto word = [&](size_t index) {
        return index < words.size() ? words[index] : std::string_view();
    };
    tarvik::download::Question asked;
    asked.offset = Read<uint64_t>(word(0)).value_or(0);
    asked.ranged = word(1) == "ranged";
    asked.total = Read<uint64_t>(word(2));
    const long status = Read<long>(word(3)).value_or(200);
    const std::optional<uint64_t> length = Read<uint64_t>(word(4));
    asked.validator = std::string(NextLine(text));
    tarvik::download::AnswerHeaders headers;
    while (!text.empty())
        headers.Take(NextLine(text));

    const tarvik::download::Judgement judgement =
        tarvik::download::Judge(asked, status, headers, length);

    constexpr uint64_t kLargest = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    Require(!judgement.reason.empty());
    Require(!judgement.total || *judgement.total <= kLargest);
    Require(!judgement.end || !judgement.total || *judgement.end <= *judgement.total);
    switch (judgement.verdict) {
    case Verdict::Continues: {
        // Only the range asked for, of the version held, continues what is held.
        const auto range = tarvik::download::ParseContentRange(headers.contentRange);
        Require(status == 206 && asked.ranged && range && range->first == asked.offset);
        Require(asked.validator.empty() ? asked.offset == 0
                                        : judgement.validator == asked.validator);
        Require(judgement.end && *judgement.end == range->last + 1);
        Require(!asked.total || judgement.total == asked.total);
        break;
    }
    case Verdict::WholeFile:
        Require(status >= 200 && status < 300 && status != 204 && status != 205 && status != 206);
        Require(judgement.end == judgement.total);
        break;
    case Verdict::StartOver:
    case Verdict::Refused:
        Require(!judgement.end && !judgement.total);
        break;
    }
    return 0;
}
