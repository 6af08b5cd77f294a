#pragma once
// The one XML reader and writer: the whole document is one wide string plus an index of
// its element nodes, navigated through a current position (parent, current, child).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class XmlDocument {
 public:
  XmlDocument();
  explicit XmlDocument(const wchar_t* text);
  explicit XmlDocument(const std::wstring& text);
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Replaces the text (null = empty), parses it and resets the position. True when the
  // document has one root element, no sibling of it and nothing ill-formed.
  bool SetDoc(const wchar_t* text);
  bool SetDoc(const std::wstring& text);
  const std::wstring& GetDoc() const { return m_doc; }

  void ResetPos();
  void ResetChildPos();
  // A null or empty name matches any element.
  bool FindElem(const wchar_t* name = nullptr);
  bool FindChildElem(const wchar_t* name = nullptr);
  bool IntoElem();
  bool OutOfElem();

  // Text of the current element, unescaped; empty without a current element.
  std::wstring GetData() const;
  // Value of an attribute of the current element's start tag, unescaped; empty when absent.
  std::wstring GetAttrib(const wchar_t* name) const;
  std::wstring GetTagName() const;

  // Appends an element after the current one (or as last child of the parent position)
  // and makes it current; data null or empty writes <name/>. Every new element is followed by
  // CR LF. True unless the document would outgrow the index's 32-bit offsets.
  bool AddElem(const wchar_t* name, const wchar_t* data = nullptr);

  const std::wstring& GetResult() const { return m_result; }
  void SetDocFlags(int flags) { m_flags = flags; }  // 8: tag names without regard to case

  // Whole-file UTF-8 helpers. The result text follows the formats
  // "%d bytes to %d wide chars" and "%d wide chars to %d bytes"; when the file cannot be
  // opened it is the C library's text for errno and false is returned.
  static bool ReadTextFile(const std::string& path, std::wstring& text, std::wstring& result);
  static bool WriteTextFile(const std::string& path, const std::wstring& text, std::wstring& result);

  // ResetChildPos, FindChildElem(name); when found IntoElem, GetData, OutOfElem.
  static bool GetChildText(XmlDocument& doc, const wchar_t* name, std::wstring& text);

 private:
  struct Impl;  // node index and navigation state
  bool Parse();
  std::wstring m_doc;
  std::wstring m_result;
  int m_flags = 0;
  std::unique_ptr<Impl> m_impl;
};
