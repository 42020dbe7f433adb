#include "app/conversion_options_form.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "i18n/translate.h"

namespace cellverter {
namespace {

QString Tr(const char* english) { return QString::fromStdString(Translate(english)); }

// A titled pair of radio buttons side by side, the first or the second one checked.
QGroupBox* RadioPair(QWidget* parent, const char* title, QRadioButton*& first,
                     const char* firstName, const char* firstText, QRadioButton*& second,
                     const char* secondName, const char* secondText, bool secondChecked) {
  auto* group = new QGroupBox(Tr(title), parent);
  auto* row = new QHBoxLayout(group);
  first = new QRadioButton(Tr(firstText), group);
  first->setObjectName(firstName);
  second = new QRadioButton(Tr(secondText), group);
  second->setObjectName(secondName);
  (secondChecked ? second : first)->setChecked(true);
  row->addWidget(first);
  row->addWidget(second);
  row->addStretch(1);
  return group;
}

}  // namespace

TConversionOptionsForm::TConversionOptionsForm(const CsvOptions& shown, QWidget* parent)
    : QDialog(parent) {
  setObjectName("ConversionOptionsForm");
  setWindowTitle(Tr("Conversion Options"));
  setModal(true);
  auto* column = new QVBoxLayout(this);

  column->addWidget(RadioPair(this, "Cell values", valuesDisplayed_, "ValuesDisplayed1",
                              "Displayed text", valuesRaw_, "ValuesRaw1", "Stored values",
                              shown.values == CellValues::kRaw));
  auto box = [&](const char* name, const char* text, bool checked) {
    auto* check = new QCheckBox(Tr(text), this);
    check->setObjectName(name);
    check->setChecked(checked);
    column->addWidget(check);
    return check;
  };
  skipHidden_ = box("SkipHidden1", "Leave out hidden rows, columns and sheets", shown.skipHidden);
  fillMerged_ = box("FillMerged1", "Fill merged areas", shown.fillMerged);
  trim_ = box("Trim1", "Trim trailing empty rows and columns", shown.trim);
  quoteAll_ = box("QuoteAll1", "Quote every field", shown.quoting == CsvQuoting::kAll);
  column->addWidget(RadioPair(this, "Line ends", lineEndingCrLf_, "LineEndingCrLf1",
                              "CR LF (Windows)", lineEndingLf_, "LineEndingLf1",
                              "LF (Linux, macOS)", shown.lineEnding == LineEnding::kLf));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setObjectName("OptionsOK");
  ok->setText(Tr("OK"));
  QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
  cancel->setObjectName("OptionsCancel");
  cancel->setText(Tr("Cancel"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  column->addSpacing(6);
  column->addWidget(buttons);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

CsvOptions TConversionOptionsForm::Chosen(CsvOptions base) const {
  base.values = valuesRaw_->isChecked() ? CellValues::kRaw : CellValues::kDisplayed;
  base.skipHidden = skipHidden_->isChecked();
  base.fillMerged = fillMerged_->isChecked();
  base.trim = trim_->isChecked();
  base.quoting = quoteAll_->isChecked() ? CsvQuoting::kAll : CsvQuoting::kMinimal;
  base.lineEnding = lineEndingLf_->isChecked() ? LineEnding::kLf : LineEnding::kCrLf;
  return base;
}

}  // namespace cellverter
