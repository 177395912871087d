// The script editor: the file of the script last started, in a text editor, with Save (enabled
// once the operator has changed the text) and Cancel.  It neither runs nor reloads the script;
// the next start reads the saved file.
#pragma once

#include <QWidget>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace kestrel {

class TOCLEditForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* CaptionPrefix = "IBM Emulation - Edit Script: ";

  explicit TOCLEditForm(QWidget* parent = nullptr);

  // Loads the script file and shows the window.  A file that cannot be read is reported in the
  // error box, and the editor stays empty.
  void ShowScript(const std::string& fileName);
  // Save: a changed text is written back (one line per editor line); then as Cancel.  A file
  // that cannot be written is reported and the text stays in the editor.
  void PBSaveClick();
  // Cancel: the editor is emptied and hidden; the file is not touched.
  void PBCancelClick();

  const QString& FileName() const { return fileName_; }

  QPlainTextEdit* MOText = nullptr;
  QPushButton* PBSave = nullptr;
  QPushButton* PBCancel = nullptr;

 private:
  void Empty();

  QString fileName_;
  bool crlf_ = false;  // the file's own line ends are kept
};

}  // namespace kestrel
