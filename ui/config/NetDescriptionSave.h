#pragma once
// "Сохранить описание сети": asks for a file and writes the network description into it.

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace vexa {

class TNetwork;

// The question for the file name. `folder` is where it starts and, on return, the folder the
// operator last looked at, also when the question was cancelled. The result is the file chosen,
// or nothing.
using TAskDescriptionPath = std::function<std::optional<QString>(QWidget* parent, QString& folder)>;

// The save dialog of the description: its title, text files or all files, "txt" added to a name
// without extension, an existing file replaced without a question.
std::optional<QString> AskDescriptionPath(QWidget* parent, QString& folder);

// Asks for the file (starting in the settings' TablesDir), writes the description of the network
// tree in code page 1251 with CR LF line ends, and leaves TablesDir at the folder the question
// ended in. A failed write is reported, and TablesDir is then left as it was.
void SaveNetworkDescriptionDialog(TNetwork& network, QWidget* parent, const TAskDescriptionPath& ask = {});

}  // namespace vexa
