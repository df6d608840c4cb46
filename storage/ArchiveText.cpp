#include "storage/ArchiveText.h"

#include <vector>

#include "core/CustomRegister.h"
#include "core/Services.h"

namespace vexa {

QByteArray ArchiveText(const TComponent& report) {
  std::vector<const TCustomRegister*> regs;
  for (int i = 0; i < report.ComponentCount(); ++i)
    if (const auto* r = dynamic_cast<const TCustomRegister*>(report.Component(i))) regs.push_back(r);
  const QString tab = QStringLiteral("\t");
  QString text = QStringLiteral("Дата и время");
  for (const TCustomRegister* r : regs) text += tab + r->Caption();
  text += QStringLiteral("\r\n");
  const qsizetype rows = regs.empty() ? 0 : regs.front()->Points().size();
  for (qsizetype k = 0; k < rows; ++k) {
    text += regs.front()->Points().at(k);
    for (const TCustomRegister* r : regs) text += tab + r->DataList().value(k);
    text += QStringLiteral("\r\n");
  }
  return ToCp1251(text);
}

}  // namespace vexa
