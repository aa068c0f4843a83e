#pragma once
// TCustomConnection: the base of a database connection. Connected, Open and
// Close run the descendant's DoConnect / DoDisconnect (GetConnected answers
// the state) between the Before/After events, and tell the registered
// clients (TDataSet clients make up DataSets, in the order they registered).
// Setting Connected while the component is being read is kept until Loaded.

#include "host/Classes.h"
#include "host/DBTypes.h"

#include <functional>
#include <vector>

namespace orvex {

class TDataSet;

using TConnectChangeEvent = std::function<void(TObject* sender, bool connecting)>;

class TCustomConnection : public TComponent {
public:
    explicit TCustomConnection(TComponent* owner) : TComponent(owner) {}

    bool Connected() { return GetConnected(); }
    virtual void SetConnected(bool value);
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }
    int DataSetCount() { return GetDataSetCount(); }
    TDataSet* DataSets(int index) { return GetDataSet(index); }
    // event is called with the connection and true after connecting, false
    // before disconnecting.
    void RegisterClient(TObject* client, TConnectChangeEvent event = nullptr);
    void UnRegisterClient(TObject* client);

    TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

protected:
    virtual void DoConnect() {}
    virtual void DoDisconnect() {}
    virtual bool GetConnected() { return false; }
    virtual TDataSet* GetDataSet(int index);
    virtual int GetDataSetCount() { return static_cast<int>(FDataSets.size()); }
    void SendConnectEvent(bool connecting);
    void Loaded() override;

private:
    struct Client {
        TObject* Object;
        TConnectChangeEvent Event;
    };
    std::vector<Client> FClients;
    std::vector<TDataSet*> FDataSets;
    bool FStreamedConnected = false;
};

} // namespace orvex
