// The list of waiting files a client receives ("DIR.LST") and the comma text it is written in.
// Whatever arrives, reading never fails unsafely; a list that was read, written again and read
// again gives the same entries; fields quoted and joined split back into the same fields.
#include "engine/link_protocol.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::Bytes(data, size);

    QList<TDirEntry> entries;
    const bool ok = ParseDirList(bytes, &entries);
    if (!ok) FUZZ_CHECK(entries.isEmpty(), "a refused list left entries");
    for (const TDirEntry& e : entries)
        FUZZ_CHECK(!e.name.isEmpty(), "an entry without a name");

    // Written and read again: the same names, sizes and folders, as long as no field holds a
    // line end (a stored name never does) and the size needs no quotes.
    bool writable = ok;
    for (const TDirEntry& e : entries) {
        for (const QString& f : {e.name, e.size, e.destPath})
            if (f.contains('\r') || f.contains('\n') || f.contains(QChar(0))) writable = false;
        for (QChar c : e.size)
            if (c <= ' ' || c == ',' || c == '"') writable = false;
    }
    if (writable) {
        QList<TDirEntry> again;
        FUZZ_CHECK(ParseDirList(DirListText(entries), &again), "a written list is refused");
        FUZZ_CHECK(again.size() == entries.size(), "entry count changed");
        for (qsizetype i = 0; i < entries.size(); ++i)
            FUZZ_CHECK(again[i].name == entries[i].name && again[i].size == entries[i].size &&
                           again[i].destPath == entries[i].destPath,
                       "entry changed: " + entries[i].name);
    }

    // Comma text: every field survives quoting, however it looks.
    const QString text = DecodeLineText(bytes);
    const QStringList fields = text.split(QChar(0x1F));
    QStringList quoted;
    for (const QString& f : fields)
        quoted << QuoteField(f);
    FUZZ_CHECK(SplitCommaText(quoted.join(',')) == fields, "quoted fields split differently");
    SplitCommaText(text);
    return 0;
}
