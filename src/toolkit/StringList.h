#pragma once
// An ordered list of 8-bit strings, as list boxes, combo boxes, memos and the
// prefix table hold them.  Lines of the form name=value can be read by name.
// The owner of a list (a control) is told of every change so it can keep its
// selection in step and refresh its view.
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

class TStringList {
public:
    enum class Change { Inserted, Deleted, Replaced, Cleared };
    // Called after a change; index is the line concerned (-1 for Cleared).
    using ChangeHandler = std::function<void(Change, int index)>;

    TStringList() = default;
    TStringList(std::initializer_list<std::string> lines) : lines_(lines) {}
    // Copies the lines only; the change handler stays with its owner.
    TStringList(const TStringList& other) : lines_(other.lines_) {}
    TStringList& operator=(const TStringList& other);

    int Count() const { return static_cast<int>(lines_.size()); }
    bool Empty() const { return lines_.empty(); }
    // Throws std::out_of_range for an index outside 0..Count()-1.
    const std::string& Strings(int index) const;
    const std::string& operator[](int index) const { return Strings(index); }
    void Put(int index, std::string text);

    int Add(std::string text);                // returns the new index
    void Insert(int index, std::string text); // index 0..Count()
    void Delete(int index);                   // out of range: nothing happens
    void Clear();
    void Assign(std::vector<std::string> lines);
    // Index of the first line equal to text (exact), -1 when none.
    int IndexOf(std::string_view text) const;

    // name=value access: the name is the text before the first '=' (the whole
    // line when it has none).  Names compare ASCII case-insensitively.
    std::string Names(int index) const;
    std::string ValueFromIndex(int index) const;
    int IndexOfName(std::string_view name) const;
    std::string Values(std::string_view name) const;              // "" when absent
    void SetValue(std::string_view name, std::string_view value); // "" removes

    // The lines joined, each followed by CR LF; SetText splits at CR LF, LF or CR.
    std::string Text() const;
    void SetText(std::string_view text);

    const std::deque<std::string>& Lines() const { return lines_; }
    auto begin() const { return lines_.begin(); }
    auto end() const { return lines_.end(); }

    void SetChangeHandler(ChangeHandler handler) { onChange_ = std::move(handler); }

private:
    void Notify(Change change, int index);
    // A deque: the traffic log drops its first line for every line it adds
    // once full, which a vector paid for by moving all the others.
    std::deque<std::string> lines_;
    ChangeHandler onChange_;
};

} // namespace vantor
