#include "core/Line.h"

#include "core/LineWriter.h"

namespace vexa {

TLine::TLine(std::unique_ptr<TCustomComm> port)
    : port_(std::move(port)), writer_(std::make_unique<TLineWriter>()) {}

TLine::~TLine() = default;

}  // namespace vexa
