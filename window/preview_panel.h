// The panel beside the list that shows what the printer will get of the
// selected file: its facts and picture, or why it cannot be shown. The
// previews are made off the window's thread.
#pragma once

#include <QWidget>

#include "app_state.h"
#include "preview.h"

class QLabel;
class QScrollArea;

namespace velquin::preview {
class PreviewLoader;
}

namespace velquin {

class PreviewPanel : public QWidget {
    Q_OBJECT
public:
    explicit PreviewPanel(QWidget* parent = nullptr);

    // Shows the preview of `path` in `mode` once it is made; a newer call
    // or clear() before then wins.
    void showFile(LoaderMode mode, const QString& path);
    void clear();

    preview::PreviewLoader& loader() { return *loader_; }

private:
    void display(const preview::Preview& preview);

    preview::PreviewLoader* loader_;
    QLabel* heading_;
    QLabel* facts_;
    QLabel* problem_;
    QLabel* picture_;
    QScrollArea* scroll_;
};

}  // namespace velquin
