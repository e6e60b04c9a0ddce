#pragma once

#include <QCoroTask>

class QDialog;

// Opens `dialog` (window-modal, with open(): no nested event loop) and waits for its answer:
// QDialog::Accepted, Rejected or a custom code given to done(). A dialog destroyed before it answered
// (its window closed under it) answers Rejected. The dialog is not deleted here: read what it holds
// after the answer, then let it go with deleteLater().
//
// Not qCoro(dialog, &QDialog::finished): that resumes through a queued call bound to the dialog, which
// never arrives when the dialog is deleted in between, and the waiting coroutine would hang forever.
QCoro::Task<int> answerOf(QDialog* dialog);
