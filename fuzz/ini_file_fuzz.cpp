// Settings, job and account files: any bytes on disk are read without harm, and a value written
// into them reads back as written (line breaks become blanks) while every line the program did
// not change stays byte for byte.
#include "core/inifile.h"
#include "fuzz_support.h"

#include <QFile>
#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace {
QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The lines of a file; `crlf` drops one CR before each LF (a file as read: CR LF and LF are
// read, LF is written).
QList<QByteArray> lines(QByteArray bytes, bool crlf) {
    if (bytes.endsWith('\n')) bytes.chop(1);
    QList<QByteArray> out = bytes.isEmpty() ? QList<QByteArray>{} : bytes.split('\n');
    if (crlf)
        for (QByteArray& line : out)
            if (line.endsWith('\r')) line.chop(1);
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString path = fuzz::Home() + "fuzz.ini";
    FuzzedDataProvider in(data, size);
    static const char* const sections[] = {"MRL", "mrl", "Job", "User", "NEW"};
    static const char* const keys[] = {"MRL_Inbox", "mrl_inbox", "qkSrcFile", "ukPassw", "Key"};
    const QString section = sections[in.ConsumeIntegralInRange(0, 4)];
    const QString key = keys[in.ConsumeIntegralInRange(0, 4)];
    const QString value = QString::fromUtf8(QByteArray::fromStdString(in.ConsumeRandomLengthString(300)));
    const QByteArray original = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "not written");
        file.write(original);
    }

    TIniFile ini(path);
    for (const QString& s : ini.ReadSections()) {
        ini.ReadString(s, key, "x");
        ini.ReadInteger(s, key, 7);
        ini.ReadBool(s, key, false);
    }
    ini.WriteString(section, key, value);
    QString expected = value;
    expected.replace('\r', ' ').replace('\n', ' ');
    FUZZ_CHECK(ini.ReadString(section, key, "<none>") == expected, "value differs in memory");
    FUZZ_CHECK(ini.UpdateFile(), "not saved: " + ini.LastError());

    TIniFile again(path);
    FUZZ_CHECK(again.ReadString(section, key, "<none>") == expected,
               "value differs after reading back: " + again.ReadString(section, key, "<none>"));

    // The old lines, in order, with at most the one changed line missing: the longest common
    // subsequence of the old and the new lines.
    const QList<QByteArray> before = lines(original, true);
    const QList<QByteArray> after = lines(readAll(path), false);
    std::vector<std::vector<int>> common(size_t(before.size() + 1),
                                         std::vector<int>(size_t(after.size() + 1), 0));
    for (qsizetype i = before.size() - 1; i >= 0; --i)
        for (qsizetype j = after.size() - 1; j >= 0; --j)
            common[i][j] = before[i] == after[j] ? common[i + 1][j + 1] + 1
                                                 : std::max(common[i + 1][j], common[i][j + 1]);
    const qsizetype missing = before.size() - common[0][0];
    FUZZ_CHECK(missing <= 1, QString("%1 unchanged lines were not kept").arg(missing));
    return 0;
}
