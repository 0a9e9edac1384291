// The settings store on a large, damaged ini file against a small one:
// 10,000 reads and 10,000 writes (interleaved, each write replacing the
// file, as the program's own writes do) through a TSetting on the 250 KB,
// 20,000-section damaged file of the tests and on a 1 KB file with the same
// section, in the same run, the two files taking turns in rounds of 500.
// Prints the wall and CPU time of each and their ratios
// (bench/settings_store.sh checks them).
//
//   bench_settings_store FOLDER [operations] [operations per round]
//   bench_settings_store --write-damaged FILE [LINE...]
//       writes the damaged file with the given lines (each ends in CR LF)
//       in its middle (used by bench/startup.sh).
#include "settings/prog_id.h"
#include "settings/setting.h"
#include "tests/support/damaged_ini.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <ctime>
#include <cstdio>

using namespace wavrell;

namespace {

bool write_file(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
}

const QByteArray program_section = "[RecentFiles]\r\nnToUse=9\r\n1=/music/first.wav\r\n2=/music/second.wav\r\n";

QByteArray small_ini() {
    QByteArray out = program_section;
    for (int i = 0; out.size() < 1024 - 40; ++i)
        out += "[Other " + QByteArray::number(i) + "]\r\nkey=value " + QByteArray::number(i) + "\r\n";
    return out;
}

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

struct Times {
    double wall = 0, cpu = 0;
};

/// Wall and CPU seconds for `ops` reads and as many writes through a store
/// on `file`.
Times run(const QString& file, int ops) {
    TSetting store;
    store.setLocation(slfile);
    store.setFilename(file);
    const QString section = QStringLiteral("RecentFiles");
    const QString paths[2] = {QStringLiteral("/music/a take.wav"), QStringLiteral("/music/another take.wav")};
    QElapsedTimer t;
    t.start();
    const double c0 = cpu_seconds();
    qsizetype sum = 0;
    for (int i = 0; i < ops; ++i) {
        store.WriteString(section, QStringLiteral("1"), paths[i % 2]);
        sum += store.ReadString(section, QStringLiteral("2"), QString()).size();
    }
    const Times spent{double(t.nsecsElapsed()) * 1e-9, cpu_seconds() - c0};
    if (sum != qsizetype(ops) * qsizetype(qstrlen("/music/second.wav")) || store.ReadString(section, QStringLiteral("1"), {}) != paths[(ops - 1) % 2]) {
        std::fprintf(stderr, "wrong answers on %s\n", qPrintable(file));
        std::exit(1);
    }
    return spent;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("--write-damaged")) {
        QByteArray middle;
        for (qsizetype i = 3; i < args.size(); ++i) middle += args[i].toUtf8() + "\r\n";
        return write_file(args[2], test::damaged_ini(middle)) ? 0 : 1;
    }
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [operations] [operations per round]\n", argv[0]);
        return 2;
    }
    const QString folder = args[1];
    const int ops = args.size() > 2 ? args[2].toInt() : 10000;
    const int round = args.size() > 3 ? std::max(1, args[3].toInt()) : 500;
    const QString large = folder + QStringLiteral("/large.ini");
    const QString small = folder + QStringLiteral("/small.ini");
    const QByteArray largeBytes = test::damaged_ini(program_section);
    const QByteArray smallBytes = small_ini();
    if (!write_file(large, largeBytes) || !write_file(small, smallBytes)) {
        std::fprintf(stderr, "cannot write the files in %s\n", qPrintable(folder));
        return 1;
    }
    run(large, 100);  // warm-up
    run(small, 100);
    // Both files take turns in rounds, so that a change in the machine's load
    // (the writes wait for the disk) meets both alike; the sums count.
    Times large_total, small_total;
    for (int done = 0; done < ops;) {
        const int n = std::min(round, ops - done);
        const Times l = run(large, n), s = run(small, n);
        large_total.wall += l.wall;
        large_total.cpu += l.cpu;
        small_total.wall += s.wall;
        small_total.cpu += s.cpu;
        done += n;
    }
    std::printf("settings store, %d reads and %d writes (each write replaces the file) on each file\n", ops, ops);
    std::printf("large file (%lld bytes, 20002 sections): %.3f s wall, %.3f s CPU\n",
                static_cast<long long>(largeBytes.size()), large_total.wall, large_total.cpu);
    std::printf("small file (%lld bytes): %.3f s wall, %.3f s CPU\n", static_cast<long long>(smallBytes.size()),
                small_total.wall, small_total.cpu);
    std::printf("ratio large/small wall: %.3f\n", large_total.wall / small_total.wall);
    std::printf("ratio large/small CPU: %.3f\n", large_total.cpu / small_total.cpu);
    return 0;
}
