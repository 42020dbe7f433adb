#pragma once

#include <QDialog>

#include "convert/workbook_to_csv.h"

class QCheckBox;
class QRadioButton;

namespace cellverter {

// Settings > Conversion Options: how cells become CSV text, as a small modal dialog. It
// shows the options it is given and hands back what the user chose; the window stores them.
class TConversionOptionsForm : public QDialog {
  Q_OBJECT

 public:
  // The texts are translated into the loaded language.
  TConversionOptionsForm(const CsvOptions& shown, QWidget* parent = nullptr);

  // `base` with the choices of the dialog's controls.
  CsvOptions Chosen(CsvOptions base) const;

 private:
  QRadioButton* valuesDisplayed_ = nullptr;
  QRadioButton* valuesRaw_ = nullptr;
  QCheckBox* skipHidden_ = nullptr;
  QCheckBox* fillMerged_ = nullptr;
  QCheckBox* trim_ = nullptr;
  QCheckBox* quoteAll_ = nullptr;
  QRadioButton* lineEndingCrLf_ = nullptr;
  QRadioButton* lineEndingLf_ = nullptr;
};

}  // namespace cellverter
