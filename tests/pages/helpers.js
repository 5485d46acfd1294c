.pragma library

// The items under item (itself included) that pick takes, in tree order: the pages give their parts no ids to outside.
function walk(item, pick, out) {
    out = out || []
    if (pick(item))
        out.push(item)
    for (var i = 0; i < item.children.length; i++)
        walk(item.children[i], pick, out)
    return out
}
function findButton(item, text) { return walk(item, function(i) { return i.text === text && i.clicked !== undefined })[0] }
// The grid page's card at a row of what it shows (in the page's ColumnLayout, the GridView).
function cardOf(page, index) { return page.children[0].children[0].itemAtIndex(index) }
// The model's rows as [host, port, status, response].
function rowsOf(model) {
    return Array.from({ length: model.count }, function(_, i) { var r = model.get(i); return [r.host, r.port, r.status, r.response] })
}
// Whether a Text draws the characters themselves, tags included, rather than markup (which would fetch an image).
function drawnAsText(text, metrics) {
    metrics.font = text.font
    metrics.text = text.text
    return Math.abs(text.implicitWidth - metrics.advanceWidth) < 2
}
