// SPDX-License-Identifier: GPL-3.0-or-later
// Runs inputs through the client's fuzz harness without libFuzzer: every file named, and every
// file in every folder named. A crash, a sanitizer report or a hang fails the run. With
// --running, every input must also leave the client running: the seeds are valid transcripts.

#include "fuzz_client.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace
{
QStringList inputFiles(const QStringList& paths)
{
    QStringList files;
    for (const QString& path : paths) {
        if (!QFileInfo(path).isDir()) {
            files.append(path);
            continue;
        }
        const QDir folder(path);
        for (const QString& name : folder.entryList(QDir::Files, QDir::Name))
            files.append(folder.filePath(name));
    }
    return files;
}
} // namespace

int main(int argc, char** argv)
{
    QStringList paths;
    bool mustRun = false;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == "--running")
            mustRun = true;
        else
            paths.append(argument);
    }
    const QStringList files = inputFiles(paths);
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: fuzz_client_replay [--running] FILE|FOLDER...\n");
        return 2;
    }
    int failed = 0;
    for (const QString& file : files) {
        QFile input(file);
        if (!input.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "%s: cannot be read\n", qPrintable(file));
            ++failed;
            continue;
        }
        const QByteArray bytes = input.readAll();
        const auto exit = runClientInput(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                         size_t(bytes.size()));
        if (exit) {
            std::printf("%s: the client ended with code %d: %s\n", qPrintable(file), exit->code,
                        qPrintable(exit->message));
        } else {
            std::printf("%s: the client runs\n", qPrintable(file));
        }
        if (exit && mustRun)
            ++failed;
    }
    return failed == 0 ? 0 : 1;
}
