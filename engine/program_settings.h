// What the window remembers between runs besides its mode: the folder each
// mode's file dialogs opened last, and whether the preview panel is shown.
// Kept with QSettings in velquin.conf in the program's config folder.
#pragma once

#include <QSettings>
#include <QString>

#include "app_state.h"

namespace velquin {

class ProgramSettings {
public:
    // velquin.conf in the program's config folder ($XDG_CONFIG_HOME/velquin).
    static QString defaultFile();

    explicit ProgramSettings(const QString& file = defaultFile());

    // The folder the file dialogs of a mode (add a file, open or save a list)
    // open in: the one last used in that mode while it still exists, else
    // the home folder.
    QString dialogFolder(LoaderMode mode) const;
    // Remembers the folder of a file the operator chose in a dialog of the mode.
    void rememberChosenFile(LoaderMode mode, const QString& chosenPath);

    // The preview panel beside the window; shown until the operator hides it.
    bool previewShown() const;
    void setPreviewShown(bool shown);

private:
    // A value goes to the file at once, so a second program (or the next
    // run after a crash) finds it.
    void store(const QString& key, const QVariant& value);

    mutable QSettings settings_;
};

}  // namespace velquin
