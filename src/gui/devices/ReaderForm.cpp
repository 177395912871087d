#include "gui/devices/ReaderForm.h"
#include "gui/QtControls.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <exception>

#include "gui/QtMessenger.h"

namespace kestrel {

namespace {
struct TPileButton {
  TPile Pile;
  const char* Name;
  const char* Hint;
};
// In the order they stand on the panel.
constexpr TPileButton PileButtons[] = {
    {PLHopper, "RBRdr", "Select reader input hopper"},
    {PLReadN, "RBStkrNR", "Select normal reader output hopper"},
    {PLRead1, "RBStkrR1", "Select alternate reader output hopper"},
    {PL82, "RBStkr82", "Select alternate combined reader/punch output hopper"},
    {PLPunch4, "RBStkrP4", "Select alternate punch output hopper"},
    {PLPunchN, "RBStkrNP", "Select normal punch output hopper"},
};

}  // namespace

TReaderForm::TReaderForm(TReaderPunch& reader, QWidget* parent)
    : QWidget(parent, Qt::Window), reader_(reader) {
  setObjectName(QStringLiteral("ReaderForm"));
  setWindowTitle(QString::fromLatin1(Caption));

  hopper_ = new TUnitRecordDisplay(this);
  hopper_->setObjectName(QStringLiteral("Hopper"));
  hopper_->SetURMode(URMRDR);
  QFont font = hopper_->DisplayFont();
  font.setPixelSize(9);
  hopper_->SetDisplayFont(font);

  auto* piles = new QHBoxLayout;
  for (const TPileButton& b : PileButtons) {
    auto* radio = new QRadioButton(QString::fromLatin1(PileCaption(b.Pile)), this);
    radio->setObjectName(QString::fromLatin1(b.Name));
    radio->setToolTip(QString::fromLatin1(b.Hint));
    radio->setProperty("tag", static_cast<int>(b.Pile));
    connect(radio, &QRadioButton::clicked, this, [this, pile = b.Pile] { PileClick(pile); });
    RB[b.Pile] = radio;
    piles->addWidget(radio);
  }
  RB[PLHopper]->setChecked(true);
  piles->addStretch(1);

  PBOpen = MakeButton(this, "PBOpen", "&Open", "Select a card file to be loaded");
  PBDeck = MakeButton(this, "PBDeck", "&Deck",
                      "Reload the current card file to the reader input hopper");
  PBLoad = MakeButton(this, "PBLoad", "&Load", "Read next card into core storage");
  CBSize = new QCheckBox(QStringLiteral("Large"), this);
  CBSize->setObjectName(QStringLiteral("CBSize"));
  CBSize->setToolTip(QStringLiteral("Set display font size"));
  auto* cards = new QLabel(QStringLiteral("Cards:"), this);
  LACardCount = new QLabel(QStringLiteral("0"), this);
  LACardCount->setObjectName(QStringLiteral("LACardCount"));
  LACardCount->setToolTip(QStringLiteral("Number of cards in selected hopper/stacker"));
  LACardCount->setMinimumWidth(
      LACardCount->fontMetrics().horizontalAdvance(QStringLiteral("00000")));
  connect(PBOpen, &QPushButton::clicked, this, &TReaderForm::PBOpenClick);
  connect(PBDeck, &QPushButton::clicked, this, &TReaderForm::PBDeckClick);
  connect(PBLoad, &QPushButton::clicked, this, &TReaderForm::PBLoadClick);
  connect(CBSize, &QCheckBox::clicked, this, &TReaderForm::CBSizeClick);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(PBOpen);
  buttons->addWidget(PBDeck);
  buttons->addWidget(PBLoad);
  buttons->addWidget(CBSize);
  buttons->addStretch(1);
  buttons->addWidget(cards);
  buttons->addWidget(LACardCount);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addWidget(hopper_, 1);
  layout->addLayout(piles);
  layout->addLayout(buttons);

  // The parent's width follows the display's.
  connect(hopper_, &TUnitRecordDisplay::DisplayResized, this,
          [this] { resize(hopper_->width() + 8, height()); });
  resize(hopper_->width() + 8, 260);

  hopper_->SetLock(&reader_.Mutex());
  hopper_->SetRecords(&reader_.Pile(PLHopper));
  reader_.SetRefreshListener([this] { throttle_.RequestFromAnyThread(); });
  Refresh();
}

TReaderForm::~TReaderForm() {
  reader_.SetRefreshListener(nullptr);
}

void TReaderForm::Guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    TQtMessenger::ShowErrorBox(e.what());
  }
}

void TReaderForm::Refresh() {
  auto lock = reader_.Lock();
  TPile pile = reader_.ShownPile();
  if (pile != shown_) {
    // Another pile (a radio button, or a reset showing the hopper): from its front.
    shown_ = pile;
    hopper_->SetRecords(&reader_.Pile(pile));
    hopper_->ScrollTo(1, 1);
  }
  if (!RB[pile]->isChecked()) RB[pile]->setChecked(true);
  hopper_->RefreshView();
  LACardCount->setText(QString::number(reader_.ShownCount()));
  PBDeck->setEnabled(reader_.DeckEnabled());
  PBLoad->setEnabled(reader_.LoadEnabled());
}

void TReaderForm::PBOpenClick() {
  QFileDialog dialog(this, QStringLiteral("Open"), QString::fromStdString(reader_.CardDirectory()));
  // Decks in circulation today mostly end in .cd; the dialog matches regardless of case.
  dialog.setNameFilters(
      {QStringLiteral("Card files (*.CRD *.CDR *.CD)"), QStringLiteral("All files (*)")});
  dialog.setDefaultSuffix(QStringLiteral("CRD"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    OpenFile(dialog.selectedFiles().front());
  } else {
    Refresh();
  }
}

void TReaderForm::OpenFile(const QString& fileName) {
  Guarded([&] { reader_.Open(fileName.toStdString()); });
}

void TReaderForm::PBDeckClick() {
  Guarded([&] { reader_.Deck(); });
}

void TReaderForm::PBLoadClick() {
  Guarded([&] { reader_.LoadButton(); });
  if (panelRefresh_) panelRefresh_();
}

void TReaderForm::CBSizeClick(bool large) {
  hopper_->SetDisplayFont(UnitRecordFont(large));
  Refresh();
}

void TReaderForm::PileClick(TPile pile) {
  reader_.ShowPile(pile);
}

}  // namespace kestrel
