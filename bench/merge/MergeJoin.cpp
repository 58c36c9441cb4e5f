// Joins segment files with the recorder's join, for the benchmark to run as
// a child process (so that its peak memory is measured alone).
//   merge_join OUTPUT SEGMENT[:MEASURED_SECONDS]...
#include "recording/SegmentJoin.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: merge_join OUTPUT SEGMENT[:SECONDS]...\n");
        return 2;
    }
    std::vector<SegmentPair> pairs;
    for (const QString &argument : arguments.mid(1)) {
        const qsizetype colon = argument.lastIndexOf(QLatin1Char(':'));
        if (colon > 0)
            pairs.push_back({argument.left(colon), argument.mid(colon + 1).toDouble()});
        else
            pairs.push_back({argument, 0});
    }
    const auto merged = SegmentJoin::join(pairs, arguments.first());
    if (!merged) {
        std::fprintf(stderr, "merge failed: %s\n", qPrintable(merged.error().description()));
        return 1;
    }
    return 0;
}
