// The product's fixed names and the maker's addresses, shared by banners,
// titles, log headers and the help window.
#pragma once

namespace vantrel {

constexpr char ProductName[] = "Vantrel Server 2.33";
constexpr char MakerName[] = "Quorvell-Labs";
constexpr char MakerWebPage[] = "http://www.quorvell-labs.example/vantrel/";
constexpr char MakerEmail[] = "support@quorvell-labs.example";
constexpr char NewsHost[] = "news.quorvell-labs.example";
constexpr char NewsPath[] = "/appnews/vantrelserver_freeware.txt";

} // namespace vantrel
