// The layer's exceptions and the operations that raise them, the names that lead to a raising
// component, and the builders of the database and transaction parameter blocks.
#pragma once

#include "Classes.h"
#include "SysUtils.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class IIBClientLibrary;
using IIBClientLibraryPtr = std::shared_ptr<IIBClientLibrary>;

// ---------------------------------------------------------------------------------------------
// Exceptions

// Base of the layer's exceptions. The message is never set directly: it is always composed from
// the fields below, so that an error box shows the raiser, the SQL text, the server's lines, a
// caller's remark and the plain message in one fixed order.
class EFIBError : public EDatabaseError {
public:
    // Create: the layer's own message aMsg, raised by Sender.
    EFIBError(qint32 ASQLCode, const QString& aMsg, TObject* Sender);
    // CreateEx: the texts of a server failure (IBMsg: the status vector's lines, SQLMsg: the text
    // of the SQL code) and a caller's remark.
    EFIBError(qint32 ASQLCode, const QString& IBMsg, const QString& SQLMsg, const QString& CstmMsg,
              TObject* Sender);

    qint32 SQLCode() const { return FSQLCode; }
    qint32 IBErrorCode() const { return FIBErrorCode; }
    // Every error code of the status vector a server failure was raised from, in order; empty
    // for the layer's own errors. The first code alone does not always tell what happened: a
    // dropped attachment may come first as a plain network error or as a shutdown.
    const std::vector<qint32>& IBErrorCodes() const { return FIBErrorCodes; }
    void SetIBErrorCodes(std::vector<qint32> value) { FIBErrorCodes = std::move(value); }

    const QString& RaiserName() const { return FRaiserName; }
    void SetRaiserName(const QString& value);
    const QString& SQLMessage() const { return FSQLMessage; }
    void SetSQLMessage(const QString& value);
    const QString& IBMessage() const { return FIBMessage; }
    void SetIBMessage(const QString& value);
    const QString& CustomMessage() const { return FCustomMessage; }
    void SetCustomMessage(const QString& value);
    const QString& Msg() const { return FMsg; }
    void SetMsg(const QString& value);

    // The object that raised; never owned, and not valid once that object is gone.
    TObject* SenderObj = nullptr;

private:
    void Init(qint32 ASQLCode, const QString& aMsg, TObject* Sender);
    void ComposeMessage();

    qint32 FSQLCode = 0;
    qint32 FIBErrorCode = 0;
    std::vector<qint32> FIBErrorCodes;
    QString FRaiserName;
    QString FSQLMessage;
    QString FIBMessage;
    QString FCustomMessage;
    QString FMsg;
};

// A failure reported by the client library or the server through the status vector.
class EFIBInterBaseError : public EFIBError {
public:
    using EFIBError::EFIBError;
};

// True when a server failure says the attachment is gone (the server stopped or was killed,
// the network dropped it, the database or the attachment was shut down): every later call on
// that attachment can only fail the same way. The layer's own errors never say so.
bool IsConnectionLost(const EFIBError& error);

// True when a server failure is a write that met another transaction's lock or newer version of
// the row (a no-wait transaction is told at once, as a lock conflict, an update conflict or a
// deadlock): the same write may pass once the other transaction ends. Other refusals
// (constraints, triggers, permissions) never say so.
bool IsLockConflict(const EFIBError& error);

// A failure the layer detects itself; SQLCode is the number of its message (or -1).
class EFIBClientError : public EFIBError {
public:
    using EFIBError::EFIBError;
};

class EMemManagerError : public EFIBError {
public:
    using EFIBError::EFIBError;
};

// ---------------------------------------------------------------------------------------------
// Raising

// The layer's numbered messages, 0 to 84.
constexpr int FIBErrorMessageCount = 85;
// The format of message `number`; a number outside the table gives message 0.
QString FIBErrorMessage(int number);

// Turns the calling thread's status vector into an EFIBInterBaseError: the SQL code and its
// text, then every message of the vector on a line of its own.
[[noreturn]] void RaiseInterBaseError(IIBClientLibrary* ClientLibrary, TObject* Sender);
[[noreturn]] void RaiseInterBaseError(const IIBClientLibraryPtr& ClientLibrary, TObject* Sender);

template <typename... Args> [[noreturn]] void RaiseClientError(int number, const Args&... args) {
    throw EFIBClientError(number, Format(FIBErrorMessage(number), args...), nullptr);
}

template <typename... Args>
[[noreturn]] void RaiseClientErrorFmt(const QString& fmt, const Args&... args) {
    throw EFIBClientError(-1, Format(fmt, args...), nullptr);
}

// The names of the component and of its owners, outermost first, joined by "."; unnamed ones
// are left out ("frmPrincipale.dbSource"). Empty for no component.
QString ComponentPath(const TComponent* component);

// ---------------------------------------------------------------------------------------------
// Text for the server

// The bytes of a text that goes to the server on an 8-bit connection: statement texts, text
// parameter values, parameter-block values. A character ISO 8859-1 cannot hold raises
// EFIBClientError naming it and its position (1-based, in characters) rather than going out as
// "?", which would search, compare or store something the user never typed.
QByteArray ServerAnsiText(const QString& text);
// The same into bytes, whose buffer is reused when it is not shared and big enough; a refused
// text leaves bytes empty.
void ServerAnsiTextInto(const QString& text, QByteArray& bytes);

// ---------------------------------------------------------------------------------------------
// Database parameter block

constexpr int DPBConstantCount = 83;
// InterBase's instance name. Firebird's header gives the code to trusted_role, which the program
// never sends, so the name has no published constant.
constexpr int dpbInstanceName = 75;
// The first name of a DPB code from 1 to 83, without the "isc_dpb_" prefix; empty otherwise.
QString DPBConstantName(int code);
// The code of a DPB name given in small letters without prefix; 0 when the name is unknown.
int DPBConstantCode(const QByteArray& name);

// The shutdown flags of a list of words and decimal numbers separated by "," or ";". A word
// outside the list of shutdown modes raises EFIBClientError; a piece starting with a digit that
// is no integer raises EConvertError.
qint32 ParseShutdownMode(const QByteArray& value);

// The DPB of the lines "name=value" in `params`, storing every line back trimmed (a password
// line only in front of its name: blanks are part of a password). On failure it raises, and
// the lines are trimmed up to the failing one.
//
// Lines "config=…" (the client's own configuration, firebird.conf lines) go into one clump, one
// setting per line, where the first of them stands: the client keeps only the last such clump.
//
// A Firebird client outside Windows reads the account's name, password and role in the
// system's character set, which it cannot count on being Latin-1: with a character beyond
// ASCII in one of them the three travel in UTF-8 and the block ends with utf8_filename, which
// tells the client so; the database's name must then be UTF-8 as well (`textsInUtf8` says
// when). Blocks of ASCII texts are as they always were.
QByteArray GenerateDPB(TStrings& params, bool isFirebird, bool* textsInUtf8 = nullptr);

// ---------------------------------------------------------------------------------------------
// Transaction parameter block

// The TPB of the lines in `params` (an empty block for no lines), storing every line back
// trimmed. On failure it raises.
QByteArray GenerateTPB(TStrings& params, bool lockTimeoutAllowed);
