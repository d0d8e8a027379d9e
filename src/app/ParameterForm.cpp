#include "app/ParameterForm.h"

#include <QLocale>
#include <QObject>
#include <QStringList>
#include <cassert>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include "args/NumberText.h"

namespace lumetra {

namespace {

// The names Parameters::problems() starts its messages with, by ParameterField.
constexpr std::array<const char*, kParameterFieldCount> kFieldNames = {
    "alpha", "beta", "co", "a", "b", "pixels per degree"};

QString unreadable(ParameterField field, const QString& text) {
    const QString name = QString::fromLatin1(kFieldNames[fieldIndex(field)]);
    if (text.contains(QLatin1Char(','))) {
        return QObject::tr("%1 must be a number, with \".\" as the decimal point (got \"%2\")")
            .arg(name, text);
    }
    return QObject::tr("%1 must be a number (got \"%2\")").arg(name, text);
}

// Stores the number `text` holds in `value`, or says why there is none.
template <typename T>
QString readInto(ParameterField field, const QString& text, T& value) {
    const std::string utf8 = text.trimmed().toStdString();
    std::optional<T> number;
    if constexpr (std::is_same_v<T, float>) {
        number = readFloat(utf8);
    } else {
        number = readDouble(utf8);
    }
    if (!number) return unreadable(field, text);
    value = *number;
    return QString();
}

// The field whose value a Parameters::problems() message is about.
std::size_t fieldOfProblem(const std::string& problem) {
    for (std::size_t k = 0; k < kParameterFieldCount; ++k) {
        if (problem.starts_with(std::string(kFieldNames[k]) + " must ")) return k;
    }
    assert(false && "every problem names one of the fields");
    return 0;
}

}  // namespace

bool FormReading::usable() const {
    for (const QString& problem : problems) {
        if (!problem.isEmpty()) return false;
    }
    return true;
}

QString FormReading::message() const {
    QStringList found;
    for (const QString& problem : problems) {
        if (!problem.isEmpty()) found << problem;
    }
    return found.join(QStringLiteral("; "));
}

// A field without a number keeps the base's value, which Parameters then does not judge
// again: the field's one problem is that it holds no number.
FormReading readParameterFields(const FieldTexts& texts, const Parameters& base) {
    FormReading form{base, {}};
    Parameters& p = form.parameters;
    const auto read = [&](ParameterField field, auto& value) {
        form.problems[fieldIndex(field)] = readInto(field, texts[fieldIndex(field)], value);
    };
    read(ParameterField::Alpha, p.alpha);
    read(ParameterField::Beta, p.beta);
    read(ParameterField::Co, p.co);
    if (auto* line = std::get_if<LinearMapping>(&p.mapping)) {
        read(ParameterField::A, line->a);
        read(ParameterField::B, line->b);
    }
    read(ParameterField::PixelsPerDegree, p.pixelsPerDegree);
    for (const std::string& rule : p.problems()) {
        QString& slot = form.problems[fieldOfProblem(rule)];
        if (slot.isEmpty()) slot = QString::fromStdString(rule);
    }
    return form;
}

FieldTexts parameterFieldTexts(const Parameters& p) {
    const auto text = [](float value) { return QString::fromStdString(shortestText(value)); };
    const auto* line = std::get_if<LinearMapping>(&p.mapping);
    return {text(p.alpha),
            text(p.beta),
            text(p.co),
            line != nullptr ? text(line->a) : QString(),
            line != nullptr ? text(line->b) : QString(),
            QString::number(p.pixelsPerDegree, 'g', QLocale::FloatingPointShortest)};
}

}  // namespace lumetra
