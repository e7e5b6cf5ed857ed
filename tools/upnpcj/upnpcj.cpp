// SPDX-License-Identifier: GPL-3.0-or-later
// UPnPCJ: forwards the game's incoming port on the home router to this machine, or removes the
// forwarding again. The client runs it with one of exactly two command lines:
//
//     UPnPCJ.exe /open 14141 TCP
//     UPnPCJ.exe /close 14141 TCP
//
// The router is found by discovery on the local network unless UPNPCJ_GATEWAY_URL holds the
// address of its root device description, which skips the discovery (useful where multicast does
// not get through, and for talking to a stand-in gateway).
//
// Exit code 0 when the router did what was asked, 1 when it could not be reached or refused,
// 2 for a command line it does not understand.

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

const char gamePort[] = "14141";
const char protocol[] = "TCP";
const char mappingDescription[] = "tileParlor";
// Zero asks for a mapping without expiry; the client removes it itself when it ends.
const char leaseSeconds[] = "0";
const int discoveryDelayMs = 2000;
const unsigned char discoveryTtl = 2;

enum class Action { Open, Close };

bool parseArguments(int argc, char** argv, Action& action)
{
    if (argc != 4 || std::strcmp(argv[2], gamePort) != 0 || std::strcmp(argv[3], protocol) != 0)
        return false;
    if (std::strcmp(argv[1], "/open") == 0)
        action = Action::Open;
    else if (std::strcmp(argv[1], "/close") == 0)
        action = Action::Close;
    else
        return false;
    return true;
}

const char* describeError(int code)
{
    const char* text = strupnperror(code);
    return text ? text : "unknown error";
}

class Gateway
{
  public:
    Gateway() = default;
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;
    ~Gateway() { FreeUPNPUrls(&urls_); }

    // Looks up the gateway; on failure prints why and returns false.
    bool find()
    {
        const char* url = std::getenv("UPNPCJ_GATEWAY_URL");
        if (url && *url)
            return fromUrl(url);
        return discover();
    }

    const char* controlUrl() const { return urls_.controlURL; }
    const char* serviceType() const { return data_.first.servicetype; }
    const char* lanAddress() const { return lanAddress_; }

  private:
    bool fromUrl(const char* url)
    {
        if (UPNP_GetIGDFromUrl(url, &urls_, &data_, lanAddress_, sizeof lanAddress_) != 1) {
            std::fprintf(stderr, "UPnPCJ: no gateway description at %s\n", url);
            return false;
        }
        return true;
    }

    bool discover()
    {
        int error = 0;
        UPNPDev* devices =
            upnpDiscover(discoveryDelayMs, nullptr, nullptr, 0, 0, discoveryTtl, &error);
        if (!devices) {
            std::fprintf(stderr, "UPnPCJ: no UPnP device answered (error %d)\n", error);
            return false;
        }
        const int found =
            UPNP_GetValidIGD(devices, &urls_, &data_, lanAddress_, sizeof lanAddress_);
        freeUPNPDevlist(devices);
        // 1 is a connected gateway. 2 is a gateway that says it is not connected; some routers
        // say so wrongly, and the mapping itself will tell whether it works.
        if (found != 1 && found != 2) {
            std::fprintf(stderr, "UPnPCJ: no Internet gateway found\n");
            return false;
        }
        return true;
    }

    UPNPUrls urls_ = {};
    IGDdatas data_ = {};
    char lanAddress_[64] = {};
};

int openPort(const Gateway& gateway)
{
    const int result = UPNP_AddPortMapping(gateway.controlUrl(), gateway.serviceType(), gamePort,
                                           gamePort, gateway.lanAddress(), mappingDescription,
                                           protocol, nullptr, leaseSeconds);
    if (result != UPNPCOMMAND_SUCCESS) {
        std::fprintf(stderr, "UPnPCJ: the gateway refused to forward %s port %s: %s (%d)\n",
                     protocol, gamePort, describeError(result), result);
        return 1;
    }
    std::printf("UPnPCJ: forwarded %s port %s to %s:%s\n", protocol, gamePort, gateway.lanAddress(),
                gamePort);
    return 0;
}

int closePort(const Gateway& gateway)
{
    const int result = UPNP_DeletePortMapping(gateway.controlUrl(), gateway.serviceType(), gamePort,
                                              protocol, nullptr);
    if (result != UPNPCOMMAND_SUCCESS) {
        std::fprintf(stderr,
                     "UPnPCJ: the gateway did not remove the forwarding of %s port %s: %s "
                     "(%d)\n",
                     protocol, gamePort, describeError(result), result);
        return 1;
    }
    std::printf("UPnPCJ: removed the forwarding of %s port %s\n", protocol, gamePort);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Action action;
    if (!parseArguments(argc, argv, action)) {
        std::fprintf(stderr,
                     "usage: UPnPCJ.exe /open %s %s\n"
                     "       UPnPCJ.exe /close %s %s\n",
                     gamePort, protocol, gamePort, protocol);
        return 2;
    }
    Gateway gateway;
    if (!gateway.find())
        return 1;
    return action == Action::Open ? openPort(gateway) : closePort(gateway);
}
