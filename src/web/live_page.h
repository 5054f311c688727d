#pragma once

// "live.htm": the program's own page that shows the stream with the
// picture's size and the camera's title, and shows the still picture,
// refreshed, when the browser cannot show the stream; it links to the
// recordings page. Its texts come through page_texts.
class LivePage {
public:
    static const char kBody[];
};
