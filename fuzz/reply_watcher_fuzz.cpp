// The client's reply watcher: watched strings (caret notation) matched in the received bytes.
// Its sliding windows must report exactly what a plain search over everything received since the
// last reset reports, byte for byte, including when a handler resets the watcher on a match.
#include "serial/caret.h"
#include "serial/wait_message_match.h"
#include "fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace {
bool equalFolded(const QByteArray& a, const QByteArray& b, bool caseSensitive) {
    if (a.size() != b.size()) return false;
    if (caseSensitive) return a == b;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    for (qsizetype i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

struct Match {
    qsizetype at;
    int index;
    bool operator==(const Match&) const = default;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool caseSensitive = in.ConsumeBool();
    const int resetOn = in.ConsumeIntegralInRange(-1, 5); // the entry whose match resets
    QStringList strings;
    if (in.ConsumeBool()) strings = {"YES", "NO", "OK", "FAIL", "^M"};
    const int extra = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < extra; ++i)
        strings << QString::fromUtf8(QByteArray::fromStdString(in.ConsumeRandomLengthString(12)));
    const QByteArray stream = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());

    TMessageMatcher matcher;
    matcher.SetCaseSensitive(caseSensitive);
    matcher.Reset(strings);
    std::vector<Match> got;
    qsizetype at = 0;
    for (; at < stream.size(); ++at) {
        matcher.Feed(stream[at], [&](int index) {
            got.push_back({at, index});
            if (index == resetOn) matcher.Reset(strings);
            return true;
        });
    }

    std::vector<QByteArray> patterns;
    for (const QString& s : strings)
        patterns.push_back(DecodeCaretText(s.toUtf8()));
    std::vector<Match> expected;
    QByteArray history;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        history += stream[i] == '\0' ? ' ' : stream[i];
        for (size_t p = 0; p < patterns.size(); ++p) {
            const QByteArray& pattern = patterns[p];
            if (pattern.isEmpty() || history.size() < pattern.size()) continue;
            if (!equalFolded(history.right(pattern.size()), pattern, caseSensitive)) continue;
            expected.push_back({i, int(p)});
            if (int(p) == resetOn) {
                history.clear();
                break;
            }
        }
    }
    FUZZ_CHECK(got == expected, QString("matches differ: %1 against %2 expected")
                                    .arg(got.size())
                                    .arg(expected.size()));
    return 0;
}
