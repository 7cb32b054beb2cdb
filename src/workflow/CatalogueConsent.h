#pragma once

#include <QString>

namespace PelkPlus {

class WorkflowQuestions;

// Whether an update may be installed from a catalogue no trusted key signed. Nothing shows that
// such a catalogue's files are the ones published, so they go to a device only with the consent of
// whoever drives the workflow: one that stands (pelk-cli's --allow-unsigned), or a Yes to the
// question asked as the update starts.
class CatalogueConsent
{
public:
    // Consent given before the update for every unsigned catalogue; off by default.
    void setStanding(bool given) { standing = given; }
    bool isStanding() const { return standing; }

    // Whether the update may begin: the catalogue is verified, consent stands, or the one asked
    // said Yes.
    bool allows(bool catalogueVerified, WorkflowQuestions* questions) const;

    static QString title();
    static QString questionText();

private:
    bool standing = false;
};

} // namespace PelkPlus
