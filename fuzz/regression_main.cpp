// Runs a fuzz target over stored inputs without libFuzzer: each argument is a file or a
// folder of files. Lets the ordinary compiler keep every kept input as a regression test.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
// Every target defines it, so the runner needs no weak symbol (which MSVC lacks).
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace {

bool runFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return false;
    }
    const QByteArray bytes = file.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()),
                           size_t(bytes.size()));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    int inputs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(path).isDir()) {
            QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                ok = runFile(it.next()) && ok;
                ++inputs;
            }
        } else {
            ok = runFile(path) && ok;
            ++inputs;
        }
    }
    std::printf("%d inputs passed\n", inputs);
    return ok && inputs > 0 ? 0 : 1;
}
