#pragma once

#include "app/ApplicationIdentity.h"

class QApplication;
class QCoreApplication;
class QMessageBox;
class QString;

namespace PelkPlus {

// The steps of start-up that are the same for every run of the updater.
class ApplicationSetup
{
public:
    static const char* organizationDomain() { return ApplicationIdentity::organizationDomain(); }

    // Application name, organization domain and organization name, in that order, then the
    // window icon shared by every window; then the log file is started in the data location.
    static void setIdentity(QApplication& application);
    // The names alone, in the same order: what locates the settings.
    static void setNames(QCoreApplication& application);

    // The box a second instance shows: no parent, empty title, the text, one OK button.
    static QMessageBox* createAnotherInstanceBox();

    // Logs and shows the second-instance box, returning once it is closed.
    static void reportAnotherInstance();
};

} // namespace PelkPlus
