// The install-object tree: nodes, children ordered by type code, the install
// step, broadcasts and the global lists.

#include "installer/cmp_TInstallContainer.h"

#include "host/forms/Forms.h"
#include "installer/cmp_TInstall.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_API.h"
#include "installer/routines_Components.h"
#include "installer/routines_Strings.h"

#include <algorithm>
#include <memory>

namespace orvex {

namespace {

TDrvnCompress* GMainCompress = nullptr;

struct TMainCompressHolder {
    ~TMainCompressHolder()
    {
        delete GMainCompress;
        GMainCompress = nullptr;
    }
} GMainCompressHolder;

// The stock container-destination specifier, when one exists.
TCustomPathSpecifier* StockSpecifier(TPathSpecifierClass cls)
{
    TStandardPathSpecList* list = StandardPathSpecList();
    return list->HasClass(cls) ? list->FindByClass(cls) : nullptr;
}

// The path specifiers' view of the tree.
class TTreeAccess : public TInstallTreeAccess {
public:
    bool IsInstallObject(TObject* obj) const override { return dynamic_cast<TInstallObject*>(obj) != nullptr; }
    TComponent* ContainerOf(TObject* installObject) const override
    {
        auto* object = dynamic_cast<TInstallObject*>(installObject);
        return object ? object->Container() : nullptr;
    }
    TContainerKind KindOf(TComponent* container) const override
    {
        if (dynamic_cast<TCustomInstall*>(container))
            return ckInstall;
        if (dynamic_cast<TCustomInstallGroup*>(container))
            return ckGroup;
        if (dynamic_cast<TFileContainer*>(container))
            return ckFileContainer;
        return ckOther;
    }
    std::string CaptionOf(TComponent* container) const override
    {
        auto* fileContainer = dynamic_cast<TFileContainer*>(container);
        return fileContainer ? fileContainer->Description : container->Name();
    }
    bool IsFileRelated(TComponent* container) const override
    {
        return dynamic_cast<TFileRelated*>(container) != nullptr;
    }
    std::string ArchiveFileOf(TComponent* fileRelated) const override
    {
        auto* related = dynamic_cast<TFileRelated*>(fileRelated);
        return related ? related->ArchivePath() : std::string();
    }
    std::string DestinationDirectoryOf(TComponent* container) const override
    {
        auto* node = dynamic_cast<TInstallContainer*>(container);
        return node ? node->DestinationDirectory() : std::string();
    }
    TComponent* InstallComponent() const override { return GetInstall(); }
    std::string SourceDirectory() const override
    {
        TCustomInstall* install = GetInstall();
        return install ? install->SourceDirectory : std::string();
    }
    bool StartedBySelfExtractor(std::string& exeName) const override
    {
        TCustomInstall* install = GetInstall();
        if (install == nullptr || !install->StartedBySelfExtractor)
            return false;
        exeName = install->SelfExtractorName;
        return true;
    }
};

TTreeAccess GTreeAccess;

} // namespace

Integer SafePercent(std::int64_t done, std::int64_t total)
{
    if (total <= 0 || done <= 0)
        return 0;
    if (done >= total)
        return 100;
    return static_cast<Integer>(done * 100 / total);
}

// ------------------------------------------------------------ global lists

int TInstallContainerList::Add(TInstallContainer* container)
{
    if (container == nullptr)
        throw IEInstallContainer("Cannot add a blank entry to the TInstallContainerList object");
    return TList::Add(container);
}

TInstallContainerList* InstallContainerList()
{
    static TInstallContainerList* list = new TInstallContainerList;
    return list;
}

bool InstallRunning()
{
    TCustomInstall* install = GetInstall();
    return install != nullptr && install->Running();
}

void InstallBroadcast(TObject* sender, Integer code, TObject* parameter)
{
    if (TCustomInstall* install = GetInstall())
        install->BroadcastMessage(sender, code, parameter);
}

TDrvnCompress* MainDrvnCompress()
{
    if (GMainCompress == nullptr)
        GMainCompress = new TDrvnCompress(nullptr);
    return GMainCompress;
}

std::string UniqueComponentName(TComponent* owner, const std::string& base)
{
    for (int n = 1;; ++n) {
        std::string name = base + std::to_string(n);
        if (owner == nullptr || owner->FindComponent(name) == nullptr)
            return name;
    }
}

std::string InstallFileComponentName(TComponent* owner, const std::string& fileName)
{
    std::string name = fileName;
    std::string ext;
    const auto slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) {
        ext = name.substr(dot + 1);
        name = name.substr(0, dot);
    }
    std::string base = "IF" + name + "_" + ext;
    // Component names are identifiers: anything else becomes "_".
    for (char& c : base)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            c = '_';
    return UniqueComponentName(owner, base);
}

// ------------------------------------------------------- TInstallContainer

TInstallContainer::TInstallContainer(TComponent* owner) : TComponent(owner)
{
    if (InstallTreeAccess() == nullptr)
        SetInstallTreeAccess(&GTreeAccess);
    InstallContainerList()->Add(this);
    if (dynamic_cast<TCustomForm*>(owner) != nullptr)
        EnsureStandardSpecifiers(this, owner, true);
}

TInstallContainer::~TInstallContainer()
{
    TInstallContainerList* list = InstallContainerList();
    for (int i = 0; i < list->Count(); ++i) {
        TInstallContainer* other = list->Get(i);
        if (other != this)
            other->ForgetContainer(this);
    }
    FChildren.clear();
    list->Remove(this);
}

int TInstallContainer::FileContainerCount() const
{
    int count = 0;
    for (TInstallObject* child : FChildren)
        if (dynamic_cast<TFileContainer*>(child))
            ++count;
    return count;
}

TFileContainer* TInstallContainer::FileContainers(int index) const
{
    int n = 0;
    for (TInstallObject* child : FChildren)
        if (auto* container = dynamic_cast<TFileContainer*>(child)) {
            if (n == index)
                return container;
            ++n;
        }
    throw IEInstallContainer(
        "Tried to reference a helper component in the following component: %s. The following index was used: %d",
        {Name(), index});
}

void TInstallContainer::SetDestDir(const std::string& value)
{
    FDestDir = value;
}

void TInstallContainer::SetDestDirType(TCustomPathSpecifier* value)
{
    if (Loading()) {
        FDestDirTypeLoaded = true;
        FDestDirTypeSeen = value != nullptr;
    }
    if (FDestDirType == value)
        return;
    if (FDestDirType)
        FDestDirType->RemoveFreeNotification(this);
    FDestDirType = value;
    if (FDestDirType && !Loading())
        FDestDirType->FreeNotification(this);
}

void TInstallContainer::ForgetContainer(TInstallContainer* container)
{
    auto* object = dynamic_cast<TInstallObject*>(container);
    if (object == nullptr)
        return;
    FChildren.erase(std::remove(FChildren.begin(), FChildren.end(), object), FChildren.end());
}

void TInstallContainer::PushStatusText(const std::string& text)
{
    TMessageParameter parameter(text);
    InstallBroadcast(this, bmPushStatusText, &parameter);
}

void TInstallContainer::PopStatusText()
{
    InstallBroadcast(this, bmPopStatusText, nullptr);
}

void TInstallContainer::DoInformationEventControl(TObject*, Integer, TObject*) {}

void TInstallContainer::ReceiveMessage(TObject*, Integer, TObject*) {}

std::string TInstallContainer::DestinationDirectory()
{
    std::string path;
    if (FDestDirType)
        path = FDestDirType->PathFor(this) + FDestDir;
    else
        path = FDestDir;
    return RemoveBackSlash(path);
}

Integer TInstallContainer::KindCode() const
{
    throw IEInstallContainer("Class must declare a registered type");
}

bool TInstallContainer::IsSelfOrAncestor(const TInstallContainer* node) const
{
    // Bounded by the number of containers, so a loop that slipped in cannot
    // hang the walk.
    const TInstallContainer* current = this;
    for (int steps = InstallContainerList()->Count() + 1; current != nullptr && steps > 0; --steps) {
        if (current == node)
            return true;
        current = current->ParentContainer();
    }
    return false;
}

void TInstallContainer::AddInstallObject(TInstallObject* child)
{
    if (child == nullptr)
        throw IEInstallContainer("Cannot add a blank base helper component to %s", {Name()});
    if (IsSelfOrAncestor(child))
        throw IEInstallContainer("Circular reference");
    if (IndexOfChild(child) >= 0)
        return;
    InsertChild(child);
}

void TInstallContainer::InsertChild(TInstallObject* child)
{
    if (UpperCase(child->ClassName()) == "TINSTALLBDE") {
        FChildren.insert(FChildren.begin(), child);
        return;
    }
    const Integer code = child->KindCode();
    auto it = std::find_if(FChildren.begin(), FChildren.end(),
                           [code](TInstallObject* other) { return other->KindCode() >= code; });
    FChildren.insert(it, child);
}

void TInstallContainer::RemoveInstallObject(TInstallObject* child)
{
    FChildren.erase(std::remove(FChildren.begin(), FChildren.end(), child), FChildren.end());
}

void TInstallContainer::Install()
{
    try {
        if (!OS.Contains(GetOSVersionType()))
            Include = false;
        if (OnBeforeProcess)
            OnBeforeProcess(this);
        InstallBroadcast(this, bmBeforeProcess, nullptr);
        if (!Include)
            return;
        if (OnProcess)
            OnProcess(this);
        InstallBroadcast(this, bmBeginObject, nullptr);
        if (!IncludedForInstallType())
            return;
        InstallChildren();
        Processed = true;
        TCustomInstall* install = GetInstall();
        if (install && Uninstall_)
            WriteUninstallInfo(UninstallKeyPrefix + install->Information()->ProductName);
        if (OnAfterProcess)
            OnAfterProcess(this);
        InstallBroadcast(this, bmAfterProcess, nullptr);
    } catch (const EAbort&) {
        // A silent abort ends this object's step quietly.
    }
}

void TInstallContainer::Uninstall() {}

void TInstallContainer::InstallChildren()
{
    Processed = true;
    // A copy: a child's step may reorder or remove children.
    const std::vector<TInstallObject*> children = FChildren;
    for (TInstallObject* child : children)
        if (IndexOfChild(child) >= 0 && child->InstallableByContainer())
            child->Install();
}

bool TInstallContainer::IncludedForInstallType() const
{
    if (!Include)
        return false;
    if (FChosenInstallType == itCustom)
        return true;
    return FInstallTypes.Contains(FChosenInstallType);
}

void TInstallContainer::WriteUninstallInfo(const std::string&) {}

void TInstallContainer::BroadcastMessage(TObject* sender, Integer code, TObject* parameter)
{
    const std::vector<TInstallObject*> children = FChildren;
    for (TInstallObject* child : children)
        if (IndexOfChild(child) >= 0 && child->KindCode() >= kcBroadcastReceiver)
            child->ReceiveMessage(sender, code, parameter);
}

TInstallObject* TInstallContainer::Children(int index) const
{
    if (index < 0 || index >= ChildCount())
        throw IEInstallContainer(
            "Tried to reference a helper component in the following component: %s. The following index was used: %d",
            {Name(), index});
    return FChildren[index];
}

int TInstallContainer::IndexOfChild(const TInstallObject* child) const
{
    auto it = std::find(FChildren.begin(), FChildren.end(), child);
    return it == FChildren.end() ? -1 : static_cast<int>(it - FChildren.begin());
}

int TInstallContainer::ChildCountOfKind(Integer kindCode) const
{
    return static_cast<int>(std::count_if(FChildren.begin(), FChildren.end(),
                                          [kindCode](TInstallObject* c) { return c->KindCode() == kindCode; }));
}

TInstallObject* TInstallContainer::ChildOfKind(int index, Integer kindCode) const
{
    int n = 0;
    for (TInstallObject* child : FChildren)
        if (child->KindCode() == kindCode && n++ == index)
            return child;
    throw IEInstallContainer("Bad call to the Comp procedure which returns a TInstallObject for a TInstallContainer "
                             "component. The parameters are probably reversed. Index: %d, ComponentType: %d",
                             {index, kindCode});
}

void TInstallContainer::FreeChildrenOfKind(Integer kindCode)
{
    std::vector<TInstallObject*> doomed;
    for (TInstallObject* child : FChildren)
        if (child->KindCode() == kindCode)
            doomed.push_back(child);
    for (TInstallObject* child : doomed)
        delete child; // leaves the list through ForgetContainer
}

void TInstallContainer::SetChosenInstallTypeTree(TInstallType value)
{
    FChosenInstallType = value;
    const std::vector<TInstallObject*> children = FChildren;
    for (TInstallObject* child : children)
        if (child != this && !IsSelfOrAncestor(child))
            child->SetChosenInstallTypeTree(value);
}

void TInstallContainer::SetInstallTypes(TInstallTypes value)
{
    FInstallTypes = value.Empty() ? TInstallTypes{itFull} : value;
}

void TInstallContainer::SetOrder(Integer value)
{
    FOrder = value;
}

void TInstallContainer::Loaded()
{
    TComponent::Loaded();
    if (FDestDirTypeLoaded && FDestDirType)
        FDestDirType->FreeNotification(this);
    FDestDirTypeLoaded = false;
}

void TInstallContainer::Notification(TComponent* component, TOperation operation)
{
    TComponent::Notification(component, operation);
    if (operation == opRemove && component != nullptr && component == FDestDirType)
        FDestDirType = nullptr;
}

// ---------------------------------------------------------- TInstallObject

TInstallObject::TInstallObject(TComponent* owner) : TInstallContainer(owner) {}

TInstallObject::~TInstallObject()
{
    if (FContainer)
        FContainer->RemoveInstallObject(this);
    FContainer = nullptr;
}

void TInstallObject::SetContainer(TInstallContainer* value)
{
    if (Loading()) {
        FContainerLoaded = true;
        FContainerJoined = value != nullptr;
        if (value && IsSelfOrAncestorOf(value))
            throw IEInstallContainer("Circular reference");
        FContainer = value;
        return;
    }
    if (value == FContainer)
        return;
    TInstallContainer* old = FContainer;
    if (value) {
        value->AddInstallObject(this); // raises before anything changes
    }
    if (old)
        old->RemoveInstallObject(this);
    FContainer = value;
    TCustomPathSpecifier* stock = StockSpecifier(&TpsContainerDestDir::ClassInfo);
    if (value) {
        if (stock) {
            SetDestDirType(stock);
            SetDestDir("");
        }
    } else if (stock && FDestDirType == stock) {
        SetDestDirType(nullptr);
    }
}

bool TInstallObject::IsSelfOrAncestorOf(const TInstallContainer* node) const
{
    return node->IsSelfOrAncestor(this);
}

void TInstallObject::SetOrder(Integer value)
{
    if (Loading()) {
        FOrder = value;
        return;
    }
    if (FContainer == nullptr)
        return;
    TInstallContainer* container = FContainer;
    container->RemoveInstallObject(this);
    FOrder = value;
    container->AddInstallObject(this);
}

void TInstallObject::ForgetContainer(TInstallContainer* container)
{
    TInstallContainer::ForgetContainer(container);
    if (FContainer == container)
        FContainer = nullptr;
}

void TInstallObject::Install()
{
    if (InstallRunning() && FContainer != nullptr && !FContainer->Processed)
        return;
    TInstallContainer::Install();
}

void TInstallObject::Loaded()
{
    TInstallContainer::Loaded();
    if (FContainerLoaded && FContainerJoined && FContainer) {
        TInstallContainer* container = FContainer;
        container->AddInstallObject(this);
    }
    FContainerLoaded = false;
    FContainerJoined = false;
}

void TInstallObject::Notification(TComponent* component, TOperation operation)
{
    TInstallContainer::Notification(component, operation);
    if (operation == opRemove && component != nullptr && component == FContainer)
        FContainer = nullptr;
}

} // namespace orvex
