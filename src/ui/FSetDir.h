#pragma once
// The directory chooser: a directory list with the drive (starting point)
// list below it.  It opens on the directory named by the text it is given,
// or on the nearest existing parent when that is no directory; OK puts the
// selected entry's path into the text, "Zrušit" leaves the text alone.  The
// text is Windows-1250 like every text of the gateway: a path that cannot be
// written so is refused at OK.
#include "toolkit/DirectorySource.h"
#include "toolkit/FileControls.h"
#include "toolkit/TextSource.h"
#include "ui/Dialog.h"

#include <string>

namespace vantor {

class TFSetDir : public TForm {
public:
    TFSetDir(TApplication& app, TComponent* owner, std::string& directory,
             DirectorySource& directories, const TextSource& texts,
             const FormTranslator& translate);
    std::string ClassName() const override { return "TFSetDir"; }

    TLabel* LabelPath; // the open directory
    TDirectoryListBox* DirectoryListBox1;
    TDriveComboBox* DriveComboBox1;
    TLabel* LabelProblem; // why the list is not complete, if it is not
    TButton* ButtonOK;
    TButton* ButtonCancel;

private:
    void ShowDirectory();
    std::string& directory_;
    const TextSource& texts_;
};

} // namespace vantor
