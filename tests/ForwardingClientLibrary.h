// A client library object that hands every call to another one: the base of the tests'
// decorators, which override only the calls they watch.
#pragma once

#include "IB_Intf.h"

class TForwardingClientLibrary : public IIBClientLibrary {
public:
    explicit TForwardingClientLibrary(IIBClientLibrary* inner) : FInner(inner) {}

    QString GetLibraryName() override { return FInner->GetLibraryName(); }
    qint32 GetIBClientVersion() override { return FInner->GetIBClientVersion(); }
    qint32 GetIBClientMinorVersion() override { return FInner->GetIBClientMinorVersion(); }
    bool GetBusy() override { return FInner->GetBusy(); }
    void FreeIBLibrary() override { FInner->FreeIBLibrary(); }
    void LoadIBLibrary() override { FInner->LoadIBLibrary(); }
    bool LibraryLoaded() override { return FInner->LibraryLoaded(); }

#define RAVELIN_IB_FORWARD_Busy(ret, name, params, args)                                           \
    ret name params override {                                                                     \
        return FInner->name args;                                                                  \
    }
#define RAVELIN_IB_FORWARD_Quiet RAVELIN_IB_FORWARD_Busy
    RAVELIN_IB_ENTRY_POINTS(RAVELIN_IB_FORWARD_BY_KIND)
#undef RAVELIN_IB_FORWARD_Busy
#undef RAVELIN_IB_FORWARD_Quiet
    using IIBClientLibrary::isc_interprete;

    ISC_LONG fb_interpret(ISC_SCHAR* buffer, unsigned int size,
                          const ISC_STATUS** status) override {
        return FInner->fb_interpret(buffer, size, status);
    }
    ISC_LONG isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer, ISC_USHORT count,
                             ...) override {
        va_list list;
        va_start(list, count);
        const TEventNames names = ReadEventNames(count, list);
        va_end(list);
        return PassEventNames([this](auto... args) { return FInner->isc_event_block(args...); },
                              eventBuffer, resultBuffer, names);
    }

protected:
    IIBClientLibrary* FInner;
};
