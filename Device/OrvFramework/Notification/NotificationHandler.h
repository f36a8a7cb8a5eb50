#pragma once
// LNotificationHandler<T>: the table that binds (sender, id) to a member function of its owner T,
// so that a class's OnNotification only forwards to its tables (NotificationForwarder.h). Each
// class level that handles notifications owns one, made in its initialisation with the owner
// pointer. The owner holds the table; the table points back at the owner without counting it.
//
// CAutoNotificationDisabler<T> silences one binding for a scope: it unbinds and unregisters it
// when built and binds it again, with its saved flags, when the scope ends.
//
// UI thread only.

#include <functional>
#include <map>
#include <string>

#include "Notification/NotificationDistributor.h"
#include "ObjectBase/Exception.h"
#include "System/DebugOutput.h"

namespace Orv {

// The table's key: the sender (null for direct delivery) and the id, ordered by sender, then by
// id, both as pointer values.
class Receivable
{
public:
    Receivable(const LNotificationDistributor* sender, NotificationId id) : sender(sender), id(id)
    {
    }
    virtual ~Receivable() = default;
    Receivable(const Receivable&) = default;
    Receivable& operator=(const Receivable&) = default;

    bool operator<(const Receivable& other) const
    {
        if (sender != other.sender) {
            return std::less<const LNotificationDistributor*>()(sender, other.sender);
        }
        return std::less<NotificationId>()(id, other.id);
    }
    bool operator==(const Receivable& other) const
    {
        return sender == other.sender && id == other.id;
    }

    const LNotificationDistributor* sender;
    NotificationId id;
};

// A member function of the owner class. The member pointer carries the adjustment from the owner
// pointer to the right `this`, virtual bases included.
template <class T>
using NotificationCallback = int (T::*)(const RCPtr<LNotificationDistributor>& sender,
                                        const RCPtr<LNotification>& notification);

template <class T>
class LNotificationHandler : public virtual LRefCountedObject
{
public:
    using Callback = NotificationCallback<T>;

    // T is a notification client: AddHandler registers it.
    explicit LNotificationHandler(T* owner) : owner(owner) {}

    // Registers the owner with the source for the id and binds the callback to (source, id).
    // E_INVALIDARG for a null source, E_FAIL for an empty id, else 0. A binding that exists stays
    // as it was (the registration's flags are replaced all the same); a source that refused the
    // registration still gets the binding.
    ORVRESULT AddHandler(Callback callback, const RCPtr<LNotificationDistributor>& source,
                         const char16_t* idText, NotificationRegistrationFlags flags = 0)
    {
        if (!source) {
            return E_INVALIDARG;
        }
        const NotificationId id = AsClient()->Register(source, idText, flags);
        if (id == nullptr) {
            return E_FAIL;
        }
        handlers.emplace(Receivable(source.Get(), id), callback);
        return S_OK;
    }

    // Binds the callback to notifications handed straight to the owner (null sender). E_FAIL for
    // an empty id, else 0.
    ORVRESULT AddDirectHandler(Callback callback, const char16_t* idText)
    {
        const NotificationId id = InternNotificationId(idText);
        if (id == nullptr) {
            return E_FAIL;
        }
        handlers.emplace(Receivable(nullptr, id), callback);
        return S_OK;
    }

    // Whether a binding was erased. The registration is the caller's to drop.
    bool RemoveHandler(const RCPtr<LNotificationDistributor>& source, const char16_t* idText)
    {
        return handlers.erase(KeyOf(source, idText)) > 0;
    }

    bool HasHandler(const RCPtr<LNotificationDistributor>& source, const char16_t* idText) const
    {
        return handlers.find(KeyOf(source, idText)) != handlers.end();
    }

    // The bound callback's result, 0 when nothing is bound to (sender, id): the next class level
    // may then try.
    int HandleNotification(const RCPtr<LNotificationDistributor>& sender,
                           const RCPtr<LNotification>& notification)
    {
        if (!notification) {
            return 0;
        }
        // The notification's id is interned already: no text is looked at.
        const auto found = handlers.find(Receivable(sender.Get(), notification->id));
        if (found == handlers.end()) {
            return 0;
        }
        // Copied out: the callback may remove its own binding.
        const Callback callback = found->second;
        return (owner->*callback)(sender, notification);
    }

    // E_FAIL when nothing is bound to (source, id); else the callback and, from the source, the
    // owner's registration flags, with the source's answer.
    ORVRESULT FindHandler(const RCPtr<LNotificationDistributor>& source, const char16_t* idText,
                          Callback& callback, NotificationRegistrationFlags& flags) const
    {
        const auto found = handlers.find(KeyOf(source, idText));
        if (found == handlers.end() || !source) {
            return E_FAIL;
        }
        callback = found->second;
        return source->GetClientFlags(RCPtr<LNotificationClient>(AsClient()), found->first.id,
                                      flags);
    }

    T* GetOwner() const { return owner; }

private:
    static Receivable KeyOf(const RCPtr<LNotificationDistributor>& source, const char16_t* idText)
    {
        return Receivable(source.Get(), InternNotificationId(idText));
    }
    LNotificationClient* AsClient() const { return owner; }

    T* owner;
    std::map<Receivable, Callback> handlers;
};

template <class T>
class CAutoNotificationDisabler
{
public:
    // Throws a failed result when nothing is bound to (source, id), when the binding could not be
    // removed or when the owner could not be unregistered.
    CAutoNotificationDisabler(const RCPtr<LNotificationHandler<T>>& handler,
                              const RCPtr<LNotificationDistributor>& source, const char16_t* idText)
        : handler(handler), source(source), id(InternNotificationId(idText))
    {
        ORV_THROW_IF_FAILED(handler ? handler->FindHandler(source, id, callback, flags) : E_FAIL);
        const ORVRESULT unregistered = static_cast<LNotificationClient*>(handler->GetOwner())
                                           ->LNotificationClient::Unregister(source, id);
        const bool removed = handler->RemoveHandler(source, id);
        if (!removed || ORV_FAILED(unregistered))
            ORV_THROW_FAILED_RESULT(removed ? unregistered : E_FAIL);
    }

    // Binds the callback again. A destructor may not throw: a failure goes to the debug channel.
    ~CAutoNotificationDisabler()
    {
        try {
            const ORVRESULT result = handler->AddHandler(callback, source, id, flags);
            if (ORV_FAILED(result)) {
                ReportRestoreFailure(FormatResultCode(result), ORV_THROW_SITE);
            }
        } catch (const std::exception& failure) {
            ReportRestoreFailure(failure.what(), ORV_THROW_SITE);
        } catch (...) {
            ReportRestoreFailure("unknown exception", ORV_THROW_SITE);
        }
    }

    CAutoNotificationDisabler(const CAutoNotificationDisabler&) = delete;
    CAutoNotificationDisabler& operator=(const CAutoNotificationDisabler&) = delete;

private:
    static void ReportRestoreFailure(const std::string& what, const ThrowSite& site) noexcept
    {
        try {
            *GetDebugLogTarget().narrowOutput
                << ComposeExceptionText(ExceptionKind::FailedResult, what, site) << std::endl;
        } catch (...) {
        }
    }

    RCPtr<LNotificationHandler<T>> handler;
    RCPtr<LNotificationDistributor> source;
    NotificationId id;
    NotificationRegistrationFlags flags = 0;
    NotificationCallback<T> callback = nullptr;
};

}  // namespace Orv
