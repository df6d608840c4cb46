#pragma once
// Operator messages as modal message boxes titled "Vexa".

#include "core/Services.h"

class QWidget;

namespace vexa {

class TMessageBoxService : public TMessageService {
 public:
  TMsgButton Show(const QString& text, TMsgIcon icon, unsigned buttons, TMsgButton defaultButton) override;
};

}  // namespace vexa
