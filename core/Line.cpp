#include "core/Line.h"

namespace vexa {

TLine::TLine(std::unique_ptr<TCustomComm> port) : port_(std::move(port)) {}

TLine::~TLine() = default;

}  // namespace vexa
