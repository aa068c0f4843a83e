// TCustomConnection.

#include "host/DBConnection.h"

#include "host/DataSet.h"

#include <algorithm>

namespace orvex {

void TCustomConnection::SetConnected(bool value)
{
    if (HasState(csReading) && value) {
        FStreamedConnected = true;
        return;
    }
    if (value == GetConnected())
        return;
    if (value) {
        if (BeforeConnect)
            BeforeConnect(this);
        DoConnect();
        SendConnectEvent(true);
        if (AfterConnect)
            AfterConnect(this);
    } else {
        if (BeforeDisconnect)
            BeforeDisconnect(this);
        SendConnectEvent(false);
        DoDisconnect();
        if (AfterDisconnect)
            AfterDisconnect(this);
    }
}

void TCustomConnection::Loaded()
{
    TComponent::Loaded();
    if (FStreamedConnected)
        SetConnected(true);
}

TDataSet* TCustomConnection::GetDataSet(int index)
{
    if (index < 0 || index >= static_cast<int>(FDataSets.size()))
        throw EListError(Format("List index out of bounds (%d)", {index}));
    return FDataSets[static_cast<std::size_t>(index)];
}

void TCustomConnection::RegisterClient(TObject* client, TConnectChangeEvent event)
{
    if (auto* dataSet = dynamic_cast<TDataSet*>(client))
        FDataSets.push_back(dataSet);
    FClients.push_back({client, std::move(event)});
}

void TCustomConnection::UnRegisterClient(TObject* client)
{
    FDataSets.erase(std::remove(FDataSets.begin(), FDataSets.end(), client), FDataSets.end());
    FClients.erase(std::remove_if(FClients.begin(), FClients.end(),
                                  [client](const Client& c) { return c.Object == client; }),
                   FClients.end());
}

void TCustomConnection::SendConnectEvent(bool connecting)
{
    // A client may unregister while it is told.
    const std::vector<Client> clients = FClients;
    for (const Client& client : clients)
        if (client.Event)
            client.Event(this, connecting);
}

} // namespace orvex
