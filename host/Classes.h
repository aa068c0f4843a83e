#pragma once
// The host framework's class library: persistent objects, pointer lists,
// string lists, collections, components with ownership and notification,
// and streams.

#include "host/SysUtils.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

using TNotifyEvent = std::function<void(TObject* sender)>;

class EListError : public Exception {
public:
    using Exception::Exception;
};
class EStringListError : public Exception {
public:
    using Exception::Exception;
};
class EComponentError : public Exception {
public:
    using Exception::Exception;
};
class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// ---------------------------------------------------------------- TPersistent

class TPropertyList;

class TPersistent : public TObject {
public:
    // Copies source into this object; the default asks source->AssignTo and
    // raises EConvertError "Cannot assign a %s to a %s" when nobody can.
    virtual void Assign(TPersistent* source);

    // Adds the published properties, in streaming order, to List (see
    // host/Streaming.h). A descendant calls its parent's version first and
    // then adds its own. The base publishes nothing.
    virtual void PublishProperties(TPropertyList& /*List*/) {}

protected:
    virtual void AssignTo(TPersistent* dest);
};

// ---------------------------------------------------------------------- TList

// Compare function of TList::Sort: < 0, 0, > 0.
using TListSortCompare = int (*)(void* item1, void* item2);

// A list of untyped pointers. Index errors raise EListError
// "List index out of bounds (%d)". Notify hears of every non-nil item added,
// extracted or deleted; a descendant whose Notify frees items calls Clear in
// its own destructor (this one can no longer reach the override).
class TList : public TObject {
public:
    ~TList() override;

    int Add(void* item);
    void Insert(int index, void* item);
    void Delete(int index);
    int Remove(void* item); // index it had, -1 when absent
    void* Extract(void* item);
    void Clear();
    int IndexOf(void* item) const;
    void Exchange(int index1, int index2);
    void Move(int curIndex, int newIndex);
    void Pack(); // removes nil items
    void* First() const;
    void* Last() const;
    void Sort(TListSortCompare compare);

    int Count() const { return static_cast<int>(FItems.size()); }
    void SetCount(int count);
    int Capacity() const { return static_cast<int>(FItems.capacity()); }
    void SetCapacity(int capacity);
    void* Get(int index) const;
    void Put(int index, void* item);
    void* operator[](int index) const { return Get(index); }
    void** List() { return FItems.data(); }

protected:
    enum TListNotification { lnAdded, lnExtracted, lnDeleted };
    virtual void Notify(void* item, TListNotification action) {}

private:
    std::vector<void*> FItems;
};

// ------------------------------------------------------------ TStrings family

enum TDuplicates { dupIgnore, dupAccept, dupError };

// The abstract string list. Names/Values read "Name=Value" lines; CommaText
// uses the framework's quoting (an item that is empty or holds a blank, a
// comma, a double quote or a control byte is written in double quotes with its
// quotes doubled; reading splits on commas and on blanks outside quotes); Text
// ends every line with CR LF and reads CR, LF or CR LF as a line end. Errors
// raise EStringListError.
class TStrings : public TPersistent {
public:
    virtual int Add(const std::string& s);
    virtual int AddObject(const std::string& s, TObject* obj);
    void Append(const std::string& s) { Add(s); }
    void AddStrings(TStrings* strings);
    virtual void Clear() = 0;
    virtual void Delete(int index) = 0;
    virtual void Insert(int index, const std::string& s) = 0;
    void InsertObject(int index, const std::string& s, TObject* obj);
    virtual void Exchange(int index1, int index2);
    virtual void Move(int curIndex, int newIndex);
    virtual int IndexOf(const std::string& s) const;   // ignores case (AnsiCompareText)
    int IndexOfName(const std::string& name) const;
    int IndexOfObject(TObject* obj) const;

    virtual int Count() const = 0;
    virtual std::string Get(int index) const = 0;
    virtual void Put(int index, const std::string& s);
    virtual TObject* GetObject(int index) const;
    virtual void PutObject(int index, TObject* obj);
    std::string operator[](int index) const { return Get(index); }
    std::string Strings(int index) const { return Get(index); }
    TObject* Objects(int index) const { return GetObject(index); }

    std::string Names(int index) const;
    std::string Values(const std::string& name) const;
    void SetValue(const std::string& name, const std::string& value); // empty value deletes the line
    std::string CommaText() const;
    void SetCommaText(const std::string& text);
    virtual std::string Text() const;
    virtual void SetText(const std::string& text);

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    virtual void LoadFromFile(const std::string& fileName);
    virtual void SaveToFile(const std::string& fileName) const;
    void LoadFromStream(class TStream* stream);
    void SaveToStream(class TStream* stream) const;

    void Assign(TPersistent* source) override;
    bool Equals(const TStrings* other) const;

protected:
    virtual void SetUpdateState(bool updating) {}
    [[noreturn]] void Error(const std::string& msg, int data) const; // EStringListError

private:
    int FUpdateCount = 0;
};

class TStringList : public TStrings {
public:
    ~TStringList() override;

    int Add(const std::string& s) override;
    int AddObject(const std::string& s, TObject* obj) override;
    void Clear() override;
    void Delete(int index) override;
    void Insert(int index, const std::string& s) override;
    void InsertItem(int index, const std::string& s, TObject* obj);
    void Exchange(int index1, int index2) override;
    int IndexOf(const std::string& s) const override;
    // Refused on a sorted list before anything moves.
    void Move(int curIndex, int newIndex) override;
    // Binary search of a sorted list (AnsiCompareText); true when found.
    virtual bool Find(const std::string& s, int& index) const;
    virtual void Sort();
    void CustomSort(std::function<int(TStringList* list, int index1, int index2)> compare);

    int Count() const override { return static_cast<int>(FItems.size()); }
    std::string Get(int index) const override;
    void Put(int index, const std::string& s) override;
    TObject* GetObject(int index) const override;
    void PutObject(int index, TObject* obj) override;

    bool Sorted() const { return FSorted; }
    void SetSorted(bool value);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates value) { FDuplicates = value; }
    // When set, Objects are deleted with the list and with Delete/Clear.
    bool OwnsObjects = false;

    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;

protected:
    virtual void Changed();
    virtual void Changing();
    void SetUpdateState(bool updating) override;

private:
    struct Item {
        std::string S;
        TObject* Obj = nullptr;
    };
    std::vector<Item> FItems;
    bool FSorted = false;
    TDuplicates FDuplicates = dupIgnore;
};

// ---------------------------------------------------------------- collections

class TCollection;

class TCollectionItem : public TPersistent {
public:
    explicit TCollectionItem(TCollection* collection);
    ~TCollectionItem() override;

    TCollection* Collection() const { return FCollection; }
    void SetCollection(TCollection* value);
    int ID() const { return FID; }
    int Index() const;
    void SetIndex(int value);
    virtual std::string DisplayName() const; // the class name by default
    virtual void SetDisplayName(const std::string& value);

protected:
    void Changed(bool allItems);

private:
    friend class TCollection;
    TCollection* FCollection = nullptr;
    int FID = 0;
};

// Creates the items of a collection: the framework's item class.
using TCollectionItemClass = std::function<TCollectionItem*(TCollection*)>;
template <class T>
TCollectionItemClass ItemClassOf()
{
    return [](TCollection* c) -> TCollectionItem* { return new T(c); };
}

// Owns its items. IDs rise from 0 and are never reused within one collection.
// An item joins its collection in the TCollectionItem constructor, so Notify
// (cnAdded) sees it before the descendant's constructor has run; the
// collection's destructor frees the items without reaching a descendant's
// Notify or Update.
class TCollection : public TPersistent {
public:
    explicit TCollection(TCollectionItemClass itemClass);
    ~TCollection() override;

    TCollectionItem* Add();
    TCollectionItem* Insert(int index);
    void Delete(int index);
    void Clear();
    int Count() const { return static_cast<int>(FItems.size()); }
    TCollectionItem* Items(int index) const; // EListError when out of range
    TCollectionItem* FindItemID(int id) const;
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }
    void Assign(TPersistent* source) override;
    const TCollectionItemClass& ItemClass() const { return FItemClass; }
    int NextID() const { return FNextID; }

protected:
    // Called after an item changes (nullptr: the whole collection), unless updating.
    virtual void Update(TCollectionItem* item) {}
    enum TCollectionNotification { cnAdded, cnExtracting, cnDeleting };
    virtual void Notify(TCollectionItem* item, TCollectionNotification action) {}
    void Changed();

private:
    friend class TCollectionItem;
    void InsertItem(TCollectionItem* item);
    void RemoveItem(TCollectionItem* item);
    TCollectionItemClass FItemClass;
    std::vector<TCollectionItem*> FItems;
    int FNextID = 0;
    int FUpdateCount = 0;
};

// ----------------------------------------------------------------- components

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag : unsigned {
    csLoading = 1u << 0,
    csReading = 1u << 1,
    csWriting = 1u << 2,
    csDestroying = 1u << 3,
    csDesigning = 1u << 4,
    csAncestor = 1u << 5,
    csUpdating = 1u << 6,
    csFixups = 1u << 7,
    csFreeNotification = 1u << 8, // takes part in free notification
};
using TComponentState = unsigned;

// A component belongs to its Owner, which frees the components it owns, last
// first. FreeNotification links two components both ways: each is told
// (Notification with opRemove) before the other goes. An owner hears opInsert
// and opRemove as its components come and go and passes every notification on
// to the components it owns (so siblings need no FreeNotification). A
// component owned by a loading owner starts loading too. The owner hears of a
// new component from the TComponent constructor, before the descendant's
// constructor has run; others hear of a component's end from the TComponent
// destructor, when only its TComponent part is left.
class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;

    TComponent* Owner() const { return FOwner; }
    const std::string& Name() const { return FName; }
    // Raises EComponentError "A component named %s already exists" when the
    // owner has another component of that name (ignoring case).
    virtual void SetName(const std::string& value);
    long long Tag = 0;

    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int index) const;
    int ComponentIndex() const;
    TComponent* FindComponent(const std::string& name) const; // ignores case
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);
    void DestroyComponents();

    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    TComponentState ComponentState() const { return FComponentState; }
    bool HasState(TComponentStateFlag flag) const { return (FComponentState & flag) != 0; }
    void SetDesigning(bool value);
    // Streaming brackets: BeginLoading sets csLoading and csReading;
    // EndLoading clears them and calls Loaded.
    void BeginLoading();
    void EndLoading();

protected:
    virtual void Notification(TComponent* component, TOperation operation);
    virtual void Loaded(); // clears csLoading
    void Destroying();     // sets csDestroying
    void SetComponentState(TComponentState state) { FComponentState = state; }

private:
    void Insert(TComponent* component);
    void Remove(TComponent* component);
    void ValidateRename(TComponent* component, const std::string& curName,
                        const std::string& newName) const;
    void MarkLoading(); // csLoading and csReading, here and in what it owns
    void CollectLoading(std::vector<TComponent*>& list);
    void UnlinkFreeNotify(TComponent* component);
    TComponent* FOwner = nullptr;
    std::string FName;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
    TComponentState FComponentState = 0;
};

// -------------------------------------------------------------------- streams

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream : public TObject {
public:
    virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
    virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    // Raise EReadError "Stream read error" / EWriteError "Stream write error"
    // when fewer bytes move than asked for.
    void ReadBuffer(void* buffer, std::int32_t count);
    void WriteBuffer(const void* buffer, std::int32_t count);
    // Copies count bytes from source (all of it, from its start, when count is 0).
    std::int64_t CopyFrom(TStream* source, std::int64_t count);

    std::int64_t Position();
    void SetPosition(std::int64_t pos);
    virtual std::int64_t Size();
    virtual void SetSize(std::int64_t newSize);
};

class TMemoryStream : public TStream {
public:
    ~TMemoryStream() override;
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return FSize; }
    void SetSize(std::int64_t newSize) override;
    void Clear();
    void* Memory() { return FData.data(); }
    const void* Memory() const { return FData.data(); }
    void LoadFromStream(TStream* stream);
    void LoadFromFile(const std::string& fileName);
    void SaveToStream(TStream* stream);
    void SaveToFile(const std::string& fileName);

private:
    std::vector<std::uint8_t> FData; // FSize bytes
    std::int64_t FSize = 0;
    std::int64_t FPosition = 0;
};

// A string held as a stream; DataString is the bytes written so far: a write
// ends the string where the write ends, as the framework's string stream does.
// Seek clamps the position to the string.
class TStringStream : public TStream {
public:
    explicit TStringStream(std::string data = {});
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t newSize) override;
    std::string ReadString(std::int32_t count);
    void WriteString(const std::string& s);
    const std::string& DataString() const { return FData; }

private:
    std::string FData;
    std::int64_t FPosition = 0;
};

// File open modes: one access mode or'ed with one share mode, or fmCreate.
enum : unsigned {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFFFF,
};

class TPlatformFile;

// A file as a stream, through the platform file layer (share modes honoured).
// Raises EFCreateError "Cannot create file %s" / EFOpenError "Cannot open file %s".
class TFileStream : public TStream {
public:
    TFileStream(const std::string& fileName, unsigned mode);
    ~TFileStream() override;
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t newSize) override;
    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
    std::unique_ptr<TPlatformFile> FFile;
    std::int64_t FPosition = 0;
};

} // namespace orvex
