#pragma once

// Addresses of the game service, kept in one place. Operators who host their
// own portal override the portal through config.ini ([Server] PortalUrl); the
// two probed hosts are fixed in the program.
namespace Orvane::ServiceEndpoints {

// Relay of the update portal: serves url.txt with the file server's base URL.
inline constexpr char DefaultPortalUrl[] = "http://update.kaimor.com/";

// Login (API) host, tested by a TCP connect to port 80 during the diagnosis.
inline constexpr char ApiHost[] = "api.kaimor.com";

// Game-server host, tested the same way; its result gates starting the launcher.
inline constexpr char GameHost[] = "game.kaimor.com";

// Footer links of the window: the community group and the website.
inline constexpr wchar_t CommunityCaption[] = L"QQ群: 586731920";
inline constexpr wchar_t CommunityUrl[] = L"https://qm.qq.com/q/586731920";
inline constexpr wchar_t WebsiteCaption[] = L"官网: www.kaimor.com";
inline constexpr wchar_t WebsiteUrl[] = L"https://www.kaimor.com/";

}  // namespace Orvane::ServiceEndpoints
