#pragma once

// What the match dialogs ask of the main window that owns them and of the chat room a battle
// runs in, gathered behind one interface.

#include <QString>

class ChatApplyMatchDialog;
class ChatRoomForm;

class MatchHost
{
  public:
    // The title of the open room roomId, "No Title" when no tab shows that room.
    virtual QString roomTitle(uint roomId) const = 0;
    // The game id of the open room roomId.
    virtual uint roomGameId(uint roomId) const = 0;
    // Drops a declined offer: it leaves the main window's list and is deleted.
    virtual void removeApplyDialog(ChatApplyMatchDialog* dialog) = 0;
    // Handles the room events held back while a battle's command was out.
    virtual void runRoomEvents() = 0;
    // A member's handle name in the room, "Unknown" for someone not in it.
    virtual QString userName(const ChatRoomForm* form, uint userId) const = 0;
    virtual uint roomId(const ChatRoomForm* form) const = 0;

  protected:
    ~MatchHost() = default;
};

// Set by the main window for its whole life.
extern MatchHost* matchHost;
