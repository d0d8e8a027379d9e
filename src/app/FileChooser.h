#pragma once

// Where the windows get file names from.  Production asks with file dialogs
// (DialogFileChooser); tests hand over fixed answers.  An empty answer means "cancelled".

#include <QString>
#include <QStringList>

namespace lumetra {

class FileChooser {
  public:
    virtual ~FileChooser() = default;

    // The original image of a new batch.
    virtual QString original() = 0;
    // The degraded images of a new batch, in the order they are to be scored.
    virtual QStringList degraded() = 0;
    // Where to write the results table as CSV.
    virtual QString resultsTarget() = 0;
    // Where to write a picture as PNG; the dialog proposes `proposedName` (a file name
    // without folder).
    virtual QString imageTarget(const QString& proposedName) = 0;
    // The folder to export every map of a run into.
    virtual QString exportFolder() = 0;
    // A calibration profile to load (JSON).
    virtual QString profile() = 0;
};

}  // namespace lumetra
