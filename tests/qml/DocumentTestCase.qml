import QtQuick 2.12
import QtTest 1.2

// A test case that opens the real window document on an empty settings store.
TestCase {
    when: windowShown

    property var window: null

    function init() {
        testEnvironment.clearSettings();
    }

    // Closes the window as its close button does, so a stream is shut down,
    // and destroys it, so its settings are written.
    function cleanup() {
        if (window === null)
            return;
        window.close();
        window.destroy();
        window = null;
        wait(0);
    }

    function openDocument() {
        var component = Qt.createComponent(testEnvironment.documentUrl);
        compare(component.status, Component.Ready, component.errorString());
        window = component.createObject(null);
        tryCompare(window, "visible", true);
    }

    // The player view is a delegate of the window's list: its items are found
    // through the visual tree, its settings objects through the view itself.
    function child(name) {
        var found = findChild(window, name) || findChild(window.contentItem, name)
                    || findChild(findChild(window.contentItem, "playerView"), name);
        verify(found !== null, "no object named " + name);
        return found;
    }

    // The dialogs are made on first open, each by its loader. Waits until the
    // dialog's own window shows its buttons: a click before that does not
    // reach them.
    function openDialog(name, buttons) {
        var loader = child(name + "Loader");
        if (!loader.item || !loader.item.visible)
            window.openDialog(loader);
        var dialog = child(name);
        tryCompare(dialog, "visible", true);
        waitForRendering(child(buttons));
        return dialog;
    }
}
