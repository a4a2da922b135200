// Draws the preview panel for the README: preview_panel_shot ttf|sf|pcx|bmp
// FILE OUT.png (offscreen platform).
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "preview_loader.h"
#include "preview_panel.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const char* modes[] = {"ttf", "sf", "pcx", "bmp"};
    int mode = -1;
    for (int i = 0; argc == 4 && i < 4; ++i)
        if (std::strcmp(argv[1], modes[i]) == 0) mode = i;
    if (mode < 0) {
        std::fprintf(stderr, "usage: preview_panel_shot ttf|sf|pcx|bmp FILE OUT.png\n");
        return 2;
    }
    velquin::PreviewPanel panel;
    panel.resize(680, 720);
    panel.show();
    QEventLoop wait;
    QObject::connect(&panel.loader(), &velquin::preview::PreviewLoader::previewReady, &wait,
                     &QEventLoop::quit, Qt::QueuedConnection);
    QTimer::singleShot(60'000, &wait, &QEventLoop::quit);
    panel.showFile(static_cast<velquin::LoaderMode>(mode), QString::fromLocal8Bit(argv[2]));
    wait.exec();
    return panel.grab().save(QString::fromLocal8Bit(argv[3])) ? 0 : 1;
}
