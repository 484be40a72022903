// vantrel-render-icons OUTDIR SIZE...: paints the program's icon at each
// size into OUTDIR/SIZExSIZE/apps/vantrel-server.png, the layout of the
// desktop's hicolor icon theme. Run by the build on Qt's offscreen
// platform, so that the installed icons are the ones the window shows.
#include "shell/qt/artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "Usage: %s OUTDIR SIZE...\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const QString top = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 8 || size > 1024) {
            std::fprintf(stderr, "%s: bad size %s\n", argv[0], argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(top).arg(size);
        if (!QDir().mkpath(folder) ||
            !vantrel::iconPicture(size).save(folder + QStringLiteral("/vantrel-server.png"), "PNG")) {
            std::fprintf(stderr, "%s: cannot write the %d pixel icon below %s\n", argv[0], size, argv[1]);
            return 1;
        }
    }
    return 0;
}
