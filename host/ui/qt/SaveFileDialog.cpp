#include "host/ui/qt/SaveFileDialog.h"

#include <QFile>
#include <QFileDialog>
#include <QStringList>
#include <algorithm>
#include <iterator>
#include <string>

#include "host/ui/qt/TextConversion.h"

namespace ui::qt {
namespace {

// The type the dialog starts with: the one of the proposed name's extension, else the first.
std::size_t InitialType(const SaveFilePrompt& prompt) {
    std::string extension = std::filesystem::path(prompt.defaultName).extension().string();
    if (extension.empty()) {
        return 0;
    }
    extension.erase(0, 1);
    const auto found = std::ranges::find_if(prompt.types, [&extension](const FileType& type) {
        return QString::fromStdString(type.extension)
                   .compare(QString::fromStdString(extension), Qt::CaseInsensitive) == 0;
    });
    return found != prompt.types.end()
               ? static_cast<std::size_t>(std::distance(prompt.types.begin(), found))
               : 0;
}

}  // namespace

QString NameFilterOf(const FileType& type) {
    return ToQString(type.description) + QStringLiteral(" (*.") + ToQString(type.extension) +
           QStringLiteral(")");
}

std::optional<std::filesystem::path> RunSaveFileDialog(QWidget* parent, const QFont& font,
                                                       const SaveFilePrompt& prompt) {
    QFileDialog dialog(parent, ToQString(prompt.title));
    dialog.setFont(font);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(prompt.opening ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(prompt.opening ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    QStringList filters;
    for (const FileType& type : prompt.types) {
        filters.push_back(NameFilterOf(type));
    }
    dialog.setNameFilters(filters);
    // The dialog adds the default suffix to a name typed without one, before it asks whether to
    // replace an existing file, so the suffix follows the chosen filter.
    const auto useType = [&dialog, &prompt](std::size_t index) {
        dialog.setDefaultSuffix(ToQString(prompt.types[index].extension));
    };
    if (!prompt.types.empty()) {
        const std::size_t initial = InitialType(prompt);
        dialog.selectNameFilter(filters[static_cast<qsizetype>(initial)]);
        useType(initial);
    }
    QObject::connect(&dialog, &QFileDialog::filterSelected,
                     [&filters, &useType](const QString& filter) {
                         const qsizetype index = filters.indexOf(filter);
                         if (index >= 0) {
                             useType(static_cast<std::size_t>(index));
                         }
                     });
    if (!prompt.defaultName.empty()) {
        dialog.selectFile(QFile::decodeName(prompt.defaultName.c_str()));
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(QFile::encodeName(chosen.front()).toStdString());
}

}  // namespace ui::qt
