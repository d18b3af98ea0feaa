// Job files in the queue folder: a damaged or hostile one is read without harm and never hides
// the good job next to it; a job read and saved again reads back the same; deleting jobs removes
// only job files inside the queue folder.
#include "jobs/queue.h"
#include "fuzz_context.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TAppContext& ctx = fuzz::Context(1);
    const QString home = fuzz::Home();
    const QString folder = home + "QUEUE/";
    fuzz::Reset(folder);
    QFile(home + "1.xfr").open(QIODevice::WriteOnly); // outside the queue folder: must stay
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(folder + name);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly), "not written");
        file.write(bytes);
    };
    write("1.xfr", fuzz::Bytes(data, size));
    write("2.xfr", "[ITEM]\nqkNo=2\nqkSrcFile=good.txt\nqkUser=alice\nqkSize=5\n");
    const QStringList outside = fuzz::Snapshot(home, {"QUEUE"});

    TQueueList& queue = *ctx.queue;
    queue.Clear();
    queue.Load();
    FUZZ_CHECK(queue.Count() >= 1 && queue.Count() <= 2, QString::number(queue.Count()));
    bool goodFound = false;
    for (int i = 0; i < queue.Count(); ++i) {
        const TQueueItem& job = *queue.GetItem(i);
        for (int k = 0; k < QueueKeyCount; ++k)
            FUZZ_CHECK(job.Slots[size_t(k)].StrValue.toUtf8().size() <= 255,
                       QString("field %1 longer than 255 bytes").arg(QueueKeyNames[k]));
        if (Get(job, qkSrcFile) == "good.txt" && Get(job, qkUser) == "alice") goodFound = true;
    }
    FUZZ_CHECK(goodFound, "the good job is hidden");
    queue.ItemIndexByFile("good.txt");

    // The first job saved on its own and read back gives the same fields (a line break inside
    // a value is stored as a blank, so that it cannot split the line).
    const TQueueItem first = *queue.GetItem(0);
    while (queue.Count() > 1)
        queue.DeleteItem(queue.Count() - 1, false);
    if (queue.Save()) {
        queue.Clear();
        queue.Load();
        bool same = false;
        for (int i = 0; i < queue.Count(); ++i) {
            bool equal = true;
            for (int k = 0; k < QueueKeyCount; ++k)
                if (queue.GetItem(i)->Slots[size_t(k)].StrValue !=
                    QString(first.Slots[size_t(k)].StrValue).replace('\r', ' ').replace('\n', ' '))
                    equal = false;
            if (equal) same = true;
        }
        FUZZ_CHECK(same, "a saved job reads back differently: " + Get(first, qkNo));
    }

    while (queue.Count() > 0)
        if (!queue.DeleteItem(0, true)) break;
    queue.Clear();
    const QStringList after = fuzz::Snapshot(home, {"QUEUE"});
    FUZZ_CHECK(after == outside,
               "files outside the queue changed:\n  " + fuzz::Difference(outside, after));
    return 0;
}
