#pragma once
// One server answering on several linesim cables at once, one client per cable. Every client has
// its own user and sends its own set of files, then fetches the set the server holds for that
// user, in one batch; all clients run at the same time. Both job queues are written before the
// programs start. The server runs with the stall probe (MARROWLINE_STALL_PROBE).
//
// The run times each link from the client's transcript as it grows (polled every few ms): from
// its first "Transferring..." to its last "File done.", the same way for every link and for a
// run with a single link. Afterwards it checks every file byte for byte in the folders it
// belongs in, and both results logs and both queues.
//
// Used by the short e2e_load test and by bench_load (bench/load.sh), the full form.
#include "app/stall_probe.h"
#include "e2e_harness.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace e2e {

struct LoadOptions {
    int links = 8;
    int files = 50;                 // each way, per link
    qsizetype largest = 300 * 1024; // file sizes run from 1 byte up to this
    quint32 seed = 1;
    QStringList lineOptions;        // linesim cable options, e.g. {"--baud", "115200"}
    int timeoutMs = 30 * 60 * 1000; // for all batches to end
};

// The sizes of one direction's files: 1 byte and the largest first, the others drawn
// log-uniformly between them; the same for the same seed.
QList<qsizetype> LoadSizes(int count, qsizetype largest, quint32 seed);

struct LoadLink {
    int filesUp = 0, filesDown = 0;    // files that arrived whole where they belong
    qint64 bytesUp = 0, bytesDown = 0; // and their bytes
    qint64 firstTransferMs = -1;       // run clock: the client's first "Transferring..."
    qint64 lastDoneMs = -1;            // its last "File done." before the batch ended
    qint64 batchEndMs = -1;            // "No files to retrieve from server."
    QStringList faults;                // what is wrong with this link's files and records

    double seconds() const;
    // File bytes, both ways, per second of the transfer span; 0 without a span.
    double goodput() const;
};

struct LoadResult {
    bool finished = false; // every batch ended in time
    QList<LoadLink> links;
    QStringList faults; // the server's results log and queue, programs that died
    bool stallRead = false;
    TStallProbe::TFigures stall; // the server's event loop over the whole run
    qint64 wallMs = 0;           // clients started to the last batch's end
    double serverCpuSeconds = -1; // the server's processor time, all threads, start to end
    QString transcripts;         // the programs' output, kept when something failed

    bool ok() const;
    // Every fault, one per line, with the link it belongs to.
    QString faultText() const;
};

// Runs the scenario in `root` (its folders are made there) and checks the outcome.
LoadResult RunLoad(const QString& root, const LoadOptions& options);

} // namespace e2e
