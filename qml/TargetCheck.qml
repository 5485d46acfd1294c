pragma Singleton
import QtQuick

// What keeps a target URL from being tested: the placeholder the program starts
// with, a missing scheme, or whatever proxyTest finds wrong with it.
QtObject {
    readonly property string placeholder: "https://quillfen.example.net/test.php"

    function lacksScheme(text) {
        return text !== "" && !/^[A-Za-z][A-Za-z0-9+.-]*:\/\//.test(text)
    }
    // "" when the URL can be tested, else why not, in one line.
    function problem(text) {
        if (text === "" || text === placeholder)
            return "Testing needs a target URL of your own."
        if (lacksScheme(text))
            return "No scheme: add http:// or https://"
        return typeof proxyTest.targetUrlProblem === "function" ? proxyTest.targetUrlProblem(text) : ""
    }
}
