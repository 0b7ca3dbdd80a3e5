// The scripted port of the tests: records requests, replays queued answers.
#include "tamlib/ui_port.h"

namespace tamlib {

void ScriptedPort::queueAnswer(int32_t answer)
{
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

void ScriptedPort::queueChoice(int32_t index)
{
    std::lock_guard lock(m_mutex);
    m_choices.push_back(index);
}

int32_t ScriptedPort::message(const MessageRequest& request)
{
    std::lock_guard lock(m_mutex);
    m_messages.push_back(request);
    if (m_answers.empty())
        return defaultAnswer(request.type);
    const int32_t answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

int32_t ScriptedPort::choose(const ChoiceRequest& request)
{
    std::lock_guard lock(m_mutex);
    m_choiceRequests.push_back(request);
    if (m_choices.empty())
        return request.current;
    const int32_t index = m_choices.front();
    m_choices.pop_front();
    return index;
}

void ScriptedPort::setItemText(void* dialog, int32_t item, const std::string& text)
{
    std::lock_guard lock(m_mutex);
    m_itemTexts.push_back({dialog, item, text});
}

std::vector<MessageRequest> ScriptedPort::messages() const
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::vector<ChoiceRequest> ScriptedPort::choices() const
{
    std::lock_guard lock(m_mutex);
    return m_choiceRequests;
}

std::vector<ScriptedPort::ItemText> ScriptedPort::itemTexts() const
{
    std::lock_guard lock(m_mutex);
    return m_itemTexts;
}

void ScriptedPort::clear()
{
    std::lock_guard lock(m_mutex);
    m_answers.clear();
    m_choices.clear();
    m_messages.clear();
    m_choiceRequests.clear();
    m_itemTexts.clear();
}

} // namespace tamlib
