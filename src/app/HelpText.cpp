#include "app/HelpText.h"

#include <QObject>

#include "app/ParameterForm.h"
#include "engine/Parameters.h"

namespace lumetra {

QString helpText() {
    // The defaults as the parameter fields show them.
    const FieldTexts t = parameterFieldTexts(Parameters{});
    return QObject::tr(
               "Lumetra predicts how visible the differences between an original colour image "
               "and degraded versions of it are.\n\n"
               "Comparison > New (Ctrl+N) asks for the original, then for one or more degraded "
               "images of its size. Files can also be dropped onto the window: the first file "
               "of a new comparison is the original, the others are the degraded images (drop "
               "the original alone first to add the degraded images next). Files dropped onto "
               "a comparison, or chosen with Add files (Ctrl+O), join it as degraded images of "
               "the same original; Replace original asks before results are discarded. Reload "
               "(F5) reads every file again; after a parameter changes, the rows scored with "
               "other parameters are greyed and marked out of date, and Rescore (Ctrl+R) scores "
               "them again. Each degraded image gets a row; click a column title to sort, select "
               "a row to read its note in full under the table, double-click a row or press "
               "Enter to compare it in the viewer. Export results (Ctrl+E) writes the table as "
               "CSV; Export all maps (Ctrl+Shift+E) writes each file's error map, heat map (on "
               "the scale chosen in the viewer, the run's shared scale unless changed) and "
               "explanation maps into a folder, named as the "
               "command line's --error-maps, --heatmaps and --explain-maps name them. Load "
               "profile (Ctrl+L) fills the parameters, viewing conditions and score mapping "
               "from a calibration profile (as python3 -m lumetra.fit writes it); the status "
               "bar then names it. A profile may score with a logistic curve instead of the "
               "line: the a and b fields are disabled while it is in use. Convert colours to "
               "sRGB converts every file from the colour profile it declares to sRGB before "
               "comparing; Apply EXIF orientation turns every file as it is meant to be shown "
               "(both off by default: the files are compared as stored). A file that declares "
               "a colour profile other than sRGB, an EXIF orientation, or another colour "
               "space than the original's (its measure then includes the colour change), or "
               "an animation read as its first frame, gets a warning icon and the reason in "
               "its row's note; the original's notes show in the status bar.\n\n"
               "Measure: the visible error pooled over the image. Lower is better; 0 means no "
               "visible difference.\n"
               "Score: the measure on the 1 to 5 quality scale, score = b - a x measure. "
               "Higher is better. An image compared with itself has measure 0 and scores b, "
               "the line's intercept (%7 with the default line), not 5; a calibration profile "
               "(Load profile) gives a scale that reaches 5.\n\n"
               "Parameters (a marked field holds no usable value; the status bar says why):\n"
               "alpha: exponent of the 32 x 32 block weight; 0 weighs every block alike, larger "
               "values let the blocks with the most error dominate (at least 0, default %1).\n"
               "beta: exponent of the Minkowski mean of the error map; larger values stress the "
               "worst pixels (greater than 0, default %2).\n"
               "co: weight of the pixels where the edge structure changed (at least 0, "
               "default %3).\n"
               "a, b: slope and offset of the score line (a other than 0, defaults %4 and "
               "%5).\n"
               "Pixels per degree: the viewing conditions, the pixels one degree of visual "
               "angle spans at the eye; larger values (a farther observer or a denser screen) "
               "make fine detail less visible (greater than 0, default %6).\n"
               "Intra A, C1, C2: masking within the achromatic and the two colour channels.\n\n"
               "Keys of the viewer:\n%8")
        .arg(t[0], t[1], t[2], t[3], t[4], t[5], t[4], viewerKeysText());
}

QString viewerKeysText() {
    return QObject::tr(
        "Page Down or J, Page Up or K: next, previous file of the table\n"
        "Ctrl++, Ctrl+- or the wheel: zoom in, out (the readout gives the zoom in percent)\n"
        "Ctrl+0: fit the image; Ctrl+1: one screen pixel per image pixel (1:1)\n"
        "Arrow keys or dragging: pan\n"
        "Alt+1 to Alt+4: side by side, split, flicker, heat map over the original\n"
        "Space: switch the flicker image\n"
        "Click on the pictures: lock the probe on that pixel; click again to release\n"
        "Ctrl+S: save the map shown (the overlay in overlay mode)\n"
        "F11: full screen; Esc: leave full screen, or close the viewer\n"
        "? or F1: show or hide this list");
}

QString aboutText(const QString& version) {
    return QObject::tr(
               "Lumetra %1\n\n"
               "Predicts how visible the differences between a colour image and degraded "
               "versions of it are. The measure is the pooled visible error (lower is better); "
               "the score puts it on the 1 to 5 quality scale (higher is better). The model's "
               "parameters are alpha, beta, co, a and b, with the six masking switches; the "
               "viewing conditions are given in pixels per degree.")
        .arg(version);
}

}  // namespace lumetra
