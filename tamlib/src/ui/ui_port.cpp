// The installed user-interface port and the message functions that go through it.
#include "tamlib/ui_port.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "tamlib/strings.h"
#include "tamrin_common/c_guard.h"

namespace tamlib {

namespace {

std::atomic<UiPort*> g_port{nullptr};

// The port until a program installs its own: messages on stderr, every question its default
// answer, every choice the current item. Nothing is ever read.
class BuiltInPort final : public UiPort
{
  public:
    int32_t message(const MessageRequest& request) override
    {
        if (request.caption.empty())
            std::fprintf(stderr, "%s\n", request.text.c_str());
        else
            std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
        return defaultAnswer(request.type);
    }

    int32_t choose(const ChoiceRequest& request) override
    {
        return request.current >= 0 && size_t(request.current) < request.items.size() ? request.current : -1;
    }

    void setItemText(void*, int32_t, const std::string&) override {}
};

UiPort& builtInPort()
{
    static BuiltInPort port;
    return port;
}

int32_t show(void* window, uint32_t type, std::string caption, const char* format, va_list args)
{
    MessageRequest request;
    request.window = window;
    request.type = type;
    request.caption = std::move(caption);
    if (format) {
        char text[PLB_STRING_MAX];
        std::vsnprintf(text, sizeof text, format, args);
        request.text = text;
    }
    try {
        return uiPort().message(request);
    } catch (...) {
        return defaultAnswer(type);
    }
}

int32_t showWithIcon(void* window, uint32_t type, uint32_t captionId, uint32_t icon, const char* format,
                     va_list args)
{
    char caption[PLB_STRING_MAX];
    PlbLoadString(nullptr, caption, captionId);
    return show(window, (type & ~uint32_t(PLB_MB_ICONS)) | icon, caption, format, args);
}

} // namespace

UiPort* setUiPort(UiPort* port)
{
    return g_port.exchange(port);
}

UiPort& uiPort()
{
    UiPort* port = g_port.load();
    return port ? *port : builtInPort();
}

std::vector<int32_t> answersOf(uint32_t type)
{
    switch (type & PLB_MB_BUTTONS) {
    case PLB_MB_OKCANCEL:
        return {PLB_IDOK, PLB_IDCANCEL};
    case PLB_MB_ABORTRETRYIGNORE:
        return {PLB_IDABORT, PLB_IDRETRY, PLB_IDIGNORE};
    case PLB_MB_YESNOCANCEL:
        return {PLB_IDYES, PLB_IDNO, PLB_IDCANCEL};
    case PLB_MB_YESNO:
        return {PLB_IDYES, PLB_IDNO};
    case PLB_MB_RETRYCANCEL:
        return {PLB_IDRETRY, PLB_IDCANCEL};
    default:
        return {PLB_IDOK};
    }
}

int32_t defaultAnswer(uint32_t type)
{
    const std::vector<int32_t> answers = answersOf(type);
    size_t index = 0;
    if ((type & PLB_MB_DEFBUTTONS) == PLB_MB_DEFBUTTON2)
        index = 1;
    else if ((type & PLB_MB_DEFBUTTONS) == PLB_MB_DEFBUTTON3)
        index = 2;
    return answers[index < answers.size() ? index : 0];
}

std::string answerName(int32_t answer)
{
    if (answer < PLB_IDOK || answer > PLB_IDNO)
        return {};
    char name[PLB_STRING_MAX];
    return PlbLoadString(nullptr, name, uint32_t(PLB_IDS_BUTTON_OK + answer - PLB_IDOK));
}

} // namespace tamlib

using namespace tamlib;

PLB_API int32_t PlbMessage(void* window, uint32_t type, const char* caption, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int32_t answer =
        tamrin::guarded<int32_t>(0, [&] { return show(window, type, caption ? caption : "", format, args); });
    va_end(args);
    return answer;
}

PLB_API int32_t PlbError(void* window, uint32_t type, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int32_t answer = tamrin::guarded<int32_t>(
        0, [&] { return showWithIcon(window, type, PLB_IDS_ERROR, PLB_MB_ICONERROR, format, args); });
    va_end(args);
    return answer;
}

PLB_API int32_t PlbWarning(void* window, uint32_t type, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int32_t answer = tamrin::guarded<int32_t>(
        0, [&] { return showWithIcon(window, type, PLB_IDS_WARNING, PLB_MB_ICONWARNING, format, args); });
    va_end(args);
    return answer;
}

PLB_API int32_t PlbQuestion(void* window, uint32_t type, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int32_t answer = tamrin::guarded<int32_t>(
        0, [&] { return showWithIcon(window, type, PLB_IDS_QUESTION, PLB_MB_ICONQUESTION, format, args); });
    va_end(args);
    return answer;
}

PLB_API int32_t PlbInformation(void* window, uint32_t type, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int32_t answer = tamrin::guarded<int32_t>(0, [&] {
        return showWithIcon(window, type, PLB_IDS_INFORMATION, PLB_MB_ICONINFORMATION, format, args);
    });
    va_end(args);
    return answer;
}
