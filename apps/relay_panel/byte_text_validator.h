#pragma once

#include <QValidator>

// Guards the address and port boxes: a keystroke or paste that would leave text that
// is neither empty nor a number from 0 to 255 is refused, so the box only ever holds
// a number its spin bar can show, or nothing while the operator types a new one.
// Written forms the number conversion accepts ("07", " 7", "2.5") are let through.
class ByteTextValidator : public QValidator {
  Q_OBJECT

 public:
  using QValidator::QValidator;

  State validate(QString& input, int& pos) const override;
};
